#pragma once
#include <atomic>

#include "platform/Automation.h"

namespace hanamail {

// The class factory of one class: made once per process and kept by the
// module. Its own references do not keep the module loaded; LockServer does.
class ClassFactory final : public IClassFactory {
public:
    // Makes a new object: plain (outer null) or aggregated.
    using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

    explicit ClassFactory(Creator creator) : m_creator(creator) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;

    Creator m_creator;
    std::atomic<ULONG> m_refs{1};
};

}  // namespace hanamail
