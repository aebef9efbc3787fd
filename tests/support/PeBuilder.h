#pragma once
#include <QByteArray>
#include <cstdint>

namespace testsupport {

// A minimal but well-formed 32-bit PE file whose resource section holds a
// version resource (RT_VERSION) with the given file version, or none.
QByteArray BuildPe(std::uint32_t fileVersionMs, std::uint32_t fileVersionLs, bool withVersion = true);

} // namespace testsupport
