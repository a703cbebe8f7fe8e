// The English message texts an installer carries unless its manifest turns
// them off with "default_messages": false.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace packer {

// Pairs of message id and UTF-8 text, in ascending id order.
const std::vector<std::pair<std::int32_t, const char*>>& defaultMessages();

}  // namespace packer
