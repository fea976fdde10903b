#pragma once

#include <string>
#include <string_view>

namespace brelk::tool {
std::string Cp437ToUtf8(std::string_view text);
}
