# morvane-cli and morvane-server in an image, built from this tree: the image the
# statistics Job (docs/scale-out/shards-job.yaml) and the service's Deployment
# (docs/serve/kubernetes.yaml) run.
#
#   docker build -t morvane:0.0.0.5 -f Containerfile .      (or: podman build ...)
#
# The programs go to /usr/local/bin, on the image's PATH; the catalogue and decks they
# start from to /usr/local/share/morvane. They run as user 65534 with a home of their
# own, where morvane-cli keeps its data folder (~/.local/share/morvane, seeded from
# the installed files at the first run).
FROM debian:12 AS build
RUN apt-get update \
    && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
       cmake ninja-build g++ pkg-config nettle-dev nlohmann-json3-dev libcpp-httplib-dev libsqlite3-dev \
    && rm -rf /var/lib/apt/lists/*
COPY . /src
RUN cmake -S /src -B /build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr/local -DMORVANE_DESKTOP=OFF -DMORVANE_TESTS=OFF -DMORVANE_BENCH=OFF \
    && cmake --build /build \
    && DESTDIR=/install cmake --install /build

FROM debian:12-slim
RUN apt-get update \
    && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends libcpp-httplib0.11 libsqlite3-0 \
    && rm -rf /var/lib/apt/lists/* \
    && mkdir -p /home/morvane /data/battles /results \
    && chown 65534:65534 /home/morvane /data/battles /results
COPY --from=build /install/usr/local/ /usr/local/
ENV HOME=/home/morvane
USER 65534
WORKDIR /home/morvane
CMD ["morvane-cli", "--help"]
