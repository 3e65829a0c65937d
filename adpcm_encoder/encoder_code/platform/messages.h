// The program's messages, from one table (messages.def): each is named by a
// Message, and worded here with its figures, so that the parser and the
// passes report a reason or a step by name, and none words it itself.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

namespace platform {

enum class Message {
#define MESSAGE(name, text) name,
#include "platform/messages.def"
#undef MESSAGE
};

// The message's text as the table holds it; for one without figures, the
// message itself.
const char* Text(Message message);

// The message with its figures in place of its printf conversions: numbers,
// and texts as C strings, in the order and of the types the table's text
// says.
template <typename... Figures>
std::string Worded(Message message, Figures... figures) {
    static_assert(sizeof...(Figures) > 0 && (std::is_scalar_v<Figures> && ...));
    const char* format = Text(message);
    const int length = std::snprintf(nullptr, 0, format, figures...);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(&text[0], text.size() + 1, format, figures...);
    return text;
}

// "<about>: <what>": a file's name or a step, then what is said of it.
inline std::string About(const std::string& about, const std::string& what) {
    return Worded(Message::About, about.c_str(), what.c_str());
}

}  // namespace platform
