// Arbitrary header text through the address parsers. Beyond not crashing:
// no parsed address carries a space or control byte, and the full form of every
// parsed mailbox reads back as that one mailbox (a name can never add recipients).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "mime/Rfc822Address.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

void checkAddress(const Rfc822Address& a)
{
    const StringBuffer& addr = a.address();
    require(addr.contains("@"));
    for (int32_t i = 0; i < addr.getSize(); ++i)
        require(!Rfc822ParseHelp::isAddressTerminator(static_cast<unsigned char>(addr.charAt(i))));

    StringBuffer full, decoded, friendly, xml;
    a.GetFullForm(full);
    a.GetDecodedFullForm(decoded);
    a.GetFriendlyName(friendly);
    a.WriteXml(xml);
    std::unique_ptr<Rfc822Address> copy(a.Clone());
    require(copy->address().equals(addr.getString()));

    // Characters that quote or split inside the address itself, and the
    // "undisclosed" phrase that voids a whole text, are outside the promise.
    const char* s = addr.getString();
    if (std::strpbrk(s, "\"\\,<>") || full.containsIgnoreCase("undisclosed recipient") ||
        full.containsIgnoreCase("undisclosed-recipient"))
        return;
    ExtPtrArray again;
    int n = Rfc822Address::ParseList(full.getString(), again);
    require(n == 1 && again.getSize() == 1);
    require(static_cast<Rfc822Address*>(again.get(0))->address().equals(s));
    again.removeAllObjects();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* t = text.c_str();  // a NUL in the input ends the text, as for any C string

    std::unique_ptr<Rfc822Address> one(Rfc822Address::Parse(t));
    if (one) checkAddress(*one);

    ExtPtrArray list;
    int count = Rfc822Address::ParseList(t, list);
    require(count >= list.getSize());
    for (int32_t i = 0; i < list.getSize(); ++i) checkAddress(*static_cast<Rfc822Address*>(list.get(i)));
    list.removeAllObjects();

    // What the header reader would hand over for an address field.
    StringBuffer field(t);
    Rfc822Address::decodeEncodedWordsEscaped(field);
    Rfc822Address::ParseList(field.getString(), list);
    for (int32_t i = 0; i < list.getSize(); ++i) checkAddress(*static_cast<Rfc822Address*>(list.get(i)));
    list.removeAllObjects();

    Rfc822Address created(t, t);
    if (!Rfc822ParseHelp::hasControlBytes(t)) created.ReplaceText("@", "\r\n@ ");
    for (int32_t i = 0; i < created.address().getSize(); ++i)
        require(!Rfc822ParseHelp::isAddressTerminator(static_cast<unsigned char>(created.address().charAt(i))));
    return 0;
}
