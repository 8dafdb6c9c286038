// Times as text.
#pragma once
#include <cstdint>
#include <string>

namespace qv {

// ISO 8601 in UTC, to the second: "2026-01-01T00:00:00Z" for seconds since 1970-01-01 UTC. Empty
// for a time outside the years 0000 to 9999, which the form cannot hold.
std::string Iso8601Utc(std::int64_t unixSeconds);

}  // namespace qv
