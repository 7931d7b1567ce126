#pragma once
// Secret keys that hand a player or an organizer the right to change what they made
// (withdraw a ladder entry, run an event). A key is shown once; only a salted hash of
// it is kept, and a key offered later is compared with that hash in constant time, so
// neither a copy of the stored records nor the time an answer takes gives it away.

#include <string>
#include <string_view>

namespace morvane {

// 32 lower-case hexadecimal digits (128 bits) from the system's generator. Throws
// IoError when the system cannot give random bytes.
std::string newSecretKey();

// "salt$hash": a fresh 16-digit salt and the SHA-256 of salt and key, hexadecimal.
std::string hashSecretKey(std::string_view key);

// Whether key is the one stored as `stored` (as hashSecretKey made it). The hashes
// are compared in constant time; a stored text of another form matches no key.
bool secretKeyMatches(std::string_view stored, std::string_view key);

} // namespace morvane
