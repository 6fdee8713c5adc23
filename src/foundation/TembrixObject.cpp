#include "foundation/TembrixObject.h"

namespace hanamail {

namespace {
// Atomic: apartment-threaded objects are created on several threads of one host.
std::atomic<uint32_t> g_serialCounter{0};
}  // namespace

TembrixObject::TembrixObject() : m_serial(++g_serialCounter) {}

TembrixObject::TembrixObject(const TembrixObject&) : m_serial(++g_serialCounter) {}

TembrixObject::~TembrixObject() = default;

}  // namespace hanamail
