// The kinds of command the bootloader knows, and their names as used in options and the trace.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

enum class CommandKind { Query, Program, Blank, Read, Final, Close, Unknown };

constexpr std::size_t kCommandKindCount = 7;

constexpr std::string_view CommandKindName(CommandKind kind) {
  constexpr std::string_view names[kCommandKindCount] = {"query", "program", "blank", "read",
                                                         "final", "close",   "unknown"};
  return names[static_cast<std::size_t>(kind)];
}

// The kind named `name` among those a fault may aim at (every kind but Unknown).
inline std::optional<CommandKind> CommandKindNamed(std::string_view name) {
  for (std::size_t k = 0; k + 1 < kCommandKindCount; ++k) {
    auto kind = static_cast<CommandKind>(k);
    if (CommandKindName(kind) == name) return kind;
  }
  return std::nullopt;
}
