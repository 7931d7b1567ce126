#!/usr/bin/env bash
# Checks the Containerfile against this build without a container engine (the test
# machines have none): its configure line is one CMake takes without an unused
# option, its install lays the programs on the image's PATH, every shared library
# they load comes from a package the image installs or the base image has, and the
# installed programs run as the image runs them (a user with only the image's HOME).
# Arguments: the build folder, the source folder, the project version.
set -euo pipefail
build=$1 source=$2 version=$3
file=$source/Containerfile

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The build stage's configure options, as written.
options=$(grep -o 'cmake -S /src -B /build [^\\&]*' "$file" | sed 's#cmake -S /src -B /build ##') ||
  fail "no configure line in the Containerfile"
prefix=$(grep -o -- '-DCMAKE_INSTALL_PREFIX=[^ ]*' <<<"$options" | cut -d= -f2)
[ -n "$prefix" ] || fail "the configure line sets no install prefix"
# shellcheck disable=SC2086
cmake -S "$source" -B "$tmp/configured" $options -Wno-dev >"$tmp/configure.log" 2>&1 ||
  { cat "$tmp/configure.log"; fail "CMake refuses the Containerfile's configure line"; }
if grep -q "not used by the project" "$tmp/configure.log"; then
  cat "$tmp/configure.log"
  fail "the Containerfile sets an option the project does not have"
fi

# The runtime stage copies the install's prefix to the same prefix.
grep -q "^COPY --from=build /install$prefix/ $prefix/" "$file" || fail "the runtime stage does not copy $prefix"
DESTDIR=$tmp/root cmake --install "$build" --prefix "$prefix" >/dev/null
bin=$tmp/root$prefix/bin
case "$prefix/bin" in
/usr/local/bin | /usr/bin | /bin) ;;
*) fail "$prefix/bin is not on a Debian image's PATH" ;;
esac
for program in morvane-cli morvane-server; do
  [ -x "$bin/$program" ] || fail "not installed: $prefix/bin/$program"
done

# Shared libraries: each from a package of the runtime stage or of debian:12-slim.
runtime=$(sed -n '/^FROM debian:12-slim/,$p' "$file" | grep -o 'install -y --no-install-recommends [^\\&]*' |
  sed 's/install -y --no-install-recommends //')
base="libc6 libgcc-s1 libstdc++6 zlib1g"
if command -v dpkg-query >/dev/null && command -v ldd >/dev/null; then
  # What the image's packages bring with them, dependencies included.
  # shellcheck disable=SC2086
  closure=" $base $(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $runtime 2>/dev/null | awk '/^[^ ]/ {print $1} /Depends:/ {print $2}' |
    sort -u | tr '\n' ' ') "
  # One look-up for all the libraries: dpkg reads its whole file lists each time.
  libs=$(for program in morvane-cli morvane-server; do ldd "$bin/$program" | awk '/=>/ {print $3}'; done | sort -u)
  for lib in $libs; do
    real=$(readlink -f "$lib")
    owner=$(dpkg -S "$real" "$lib" 2>/dev/null | head -1 | cut -d: -f1) || true
    [ -n "$owner" ] || fail "$lib is loaded but no package owns it"
    case "$closure" in
    *" $owner "*) ;;
    *) fail "the programs need $owner ($lib), which the image does not install" ;;
    esac
  done
fi

# As the image runs it: user data under the image's HOME, nothing else set.
home=$tmp/home
mkdir -p "$home"
line=$(cd "$home" && env -i PATH="$bin:/usr/bin:/bin" HOME="$home" morvane-cli battle --seed 1 --time T) ||
  fail "the installed morvane-cli cannot play with the image's HOME: $line"
[ "$line" = "winner=bottom turns=8 report=$home/.local/share/morvane/battle.html" ] || fail "unexpected line: $line"
env -i PATH="$bin:/usr/bin:/bin" HOME="$home" morvane-server --help >/dev/null || fail "morvane-server --help fails"

# The manifests run the image this file builds, at this version, with its paths.
for manifest in "$source/docs/scale-out/shards-job.yaml" "$source/docs/scale-out/merge-job.yaml" \
  "$source/docs/serve/kubernetes.yaml"; do
  grep -q "image: registry.example.org/morvane:$version\$" "$manifest" || fail "$manifest runs another image"
  if grep -q "/usr/share/morvane" "$manifest"; then fail "$manifest names /usr/share/morvane"; fi
done
grep -q "docker build -t morvane:$version -f Containerfile" "$file" || fail "the Containerfile's tag is not $version"
echo "Containerfile: configure, install, libraries and manifests agree"
