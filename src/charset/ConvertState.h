#pragma once
#include <cstdint>

namespace hanamail {

// Per-conversion state handed to every decodeChar/encodeChar call. Stateless
// codecs (UTF-8) leave it alone; shift-state codecs keep their mode in it.
class ConvertState {
public:
    ConvertState() = default;
    virtual ~ConvertState() = default;

    int32_t value() const { return m_value; }
    void setValue(int32_t v) { m_value = v; }

private:
    int32_t m_value = 0;
};

}  // namespace hanamail
