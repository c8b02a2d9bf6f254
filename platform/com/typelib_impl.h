// The runtime's ITypeLib and ITypeInfo over an immutable, shared type library description.
#pragma once

#include "platform/com/typelib_model.h"

#include <atomic>
#include <deque>
#include <memory>

// Windows-shaped descriptions, computed once per library so GetFuncDesc and GetTypeAttr can hand
// out stable pointers (their Release functions then have nothing to free).
struct TypeLibFuncData
{
    FUNCDESC Desc{};
    std::vector<ELEMDESC> Params;
    std::deque<TYPEDESC> Nodes; // the VT_PTR chains; a deque keeps their addresses stable
};

struct TypeLibTypeData
{
    TYPEATTR Attr{};
    std::vector<std::unique_ptr<TypeLibFuncData>> Funcs; // interfaces only
};

struct TypeLibData
{
    TypeLibDesc Desc;
    TLIBATTR Attr{};
    std::vector<TypeLibTypeData> Types; // interfaces first, then coclasses, as the indexes go
};

std::shared_ptr<const TypeLibData> MakeTypeLibData(TypeLibDesc desc);

class CTypeLib final : public ITypeLib
{
  public:
    explicit CTypeLib(std::shared_ptr<const TypeLibData> data) : m_data(std::move(data)) {}
    const std::shared_ptr<const TypeLibData>& Data() const { return m_data; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP_(UINT) GetTypeInfoCount() override;
    STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
    STDMETHODIMP GetLibAttr(TLIBATTR** ppTLibAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
    STDMETHODIMP GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                  DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
    STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                          MEMBERID* rgMemId, USHORT* pcFound) override;
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR*) override {}

  private:
    ~CTypeLib() = default;
    std::atomic<ULONG> m_refs{1};
    std::shared_ptr<const TypeLibData> m_data;
};

class CTypeInfo final : public ITypeInfo
{
  public:
    CTypeInfo(std::shared_ptr<const TypeLibData> data, size_t index)
        : m_data(std::move(data)), m_index(index)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
    STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    STDMETHODIMP GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    STDMETHODIMP GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                          UINT* pcNames) override;
    STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    STDMETHODIMP GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    STDMETHODIMP GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                  DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHODIMP GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    STDMETHODIMP AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override;
    STDMETHODIMP GetMops(MEMBERID, BSTR* pBstrMops) override;
    STDMETHODIMP GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR*) override {}
    STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC*) override {}
    STDMETHODIMP_(void) ReleaseVarDesc(VARDESC*) override {}

  private:
    ~CTypeInfo() = default;
    bool IsInterface() const { return m_index < m_data->Desc.Interfaces.size(); }
    const TypeLibInterfaceDesc& Interface() const { return m_data->Desc.Interfaces[m_index]; }
    const TypeLibCoclassDesc& Coclass() const
    {
        return m_data->Desc.Coclasses[m_index - m_data->Desc.Interfaces.size()];
    }

    std::atomic<ULONG> m_refs{1};
    std::shared_ptr<const TypeLibData> m_data;
    size_t m_index;
};

// Generic dispatch over one interface description (dispatch_invoke.cpp).
HRESULT InvokeFromDesc(const TypeLibInterfaceDesc& itf, PVOID pvInstance, MEMBERID memid,
                       WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                       EXCEPINFO* pExcepInfo, UINT* puArgErr);
