#pragma once

#include <QByteArray>

#include <functional>
#include <string_view>

// Hashed tables of names as bytes, looked up by view: the standard library's hash of a
// byte string, which costs a small part of QHash's on the short names a run handles by
// the thousand. Internal to platform/.
namespace kurumu::platform::detail {

struct BytesHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view bytes) const { return std::hash<std::string_view>{}(bytes); }
};

inline std::string_view viewOf(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

}  // namespace kurumu::platform::detail
