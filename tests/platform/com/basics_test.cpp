// GUIDs, BSTRs, text conversion and bounded copies, VARIANT coercion, result codes.
#include "platform/com/comrt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

TEST(Guid, ParsesAndPrintsRegistryForm)
{
    constexpr GUID g = MakeGuid("{91f3e725-A6D1-11D3-B52E-0290F7C2A3D4}");
    EXPECT_EQ(g.Data1, 0x91F3E725u);
    EXPECT_EQ(g.Data2, 0xA6D1);
    EXPECT_EQ(g.Data3, 0x11D3);
    EXPECT_EQ(g.Data4[0], 0xB5);
    EXPECT_EQ(g.Data4[7], 0xD4);
    EXPECT_EQ(GuidToString(g), "{91F3E725-A6D1-11D3-B52E-0290F7C2A3D4}");
    EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");

    GUID parsed{};
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
    EXPECT_EQ(parsed, g);
    EXPECT_EQ(StringFromGUID2(g, text, 38), 0); // too small: nothing written
}

TEST(Guid, RejectsMalformedText)
{
    const char* bad[] = {
        "",
        "91F3E725-A6D1-11D3-B52E-0290F7C2A3D4",    // no braces
        "{91F3E725-A6D1-11D3-B52E-0290F7C2A3D}",   // short
        "{91F3E725-A6D1-11D3-B52E-0290F7C2A3D4 }", // long
        "{91F3E725+A6D1-11D3-B52E-0290F7C2A3D4}",  // separator
        "{91F3E72G-A6D1-11D3-B52E-0290F7C2A3D4}",  // not hex
    };
    for (const char* text : bad)
    {
        GUID g = IID_IUnknown;
        EXPECT_FALSE(GuidFromString(text, &g)) << text;
        EXPECT_EQ(g, IID_IUnknown) << "left alone: " << text;
        std::u16string wide = NarrowToWide(text);
        if (*text)
        {
            EXPECT_EQ(CLSIDFromString(wide.c_str(), &g), CO_E_CLASSSTRING) << text;
        }
    }
}

TEST(HResult, ValuesAreWindows)
{
    EXPECT_EQ(static_cast<uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<uint32_t>(E_HANDLE), 0x80070006u);
    EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), 0x8007007Eu);
    EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)), 0x8007007Fu);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(DISP_E_EXCEPTION));
    EXPECT_EQ(HResultHex(REGDB_E_CLASSNOTREG), "0x80040154");
    EXPECT_EQ(HResultText(REGDB_E_CLASSNOTREG), "Class not registered");
}

TEST(Bstr, LengthPrefixedAndNullIsEmpty)
{
    BSTR s = SysAllocStringLen(u"ab\0cd", 5); // embedded zero kept: the length decides
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringByteLen(s), 10u);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<BYTE*>(s) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(s[5], 0);                       // terminated
    EXPECT_TRUE(SysReAllocString(&s, s + 3)); // source inside the old string
    EXPECT_EQ(std::u16string(s), u"cd");
    SysFreeString(s);

    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    EXPECT_EQ(NarrowFromBstr(nullptr), "");

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    SysFreeString(odd);

    CComBSTR reused(u"first");
    *&reused = SysAllocString(u"second"); // an out parameter filled again: LeakSanitizer watches
    EXPECT_EQ(std::u16string(reused.m_str), u"second");
}

TEST(Conversion, RoundTripsAndReplacesInvalidInput)
{
    struct Case
    {
        std::u16string Wide;
        std::string Narrow;
    } cases[] = {
        {u"", ""},
        {u"ps auxw", "ps auxw"},
        {u"gr\u00FC\u00DFe", "gr\xC3\xBC\xC3\x9F"
                             "e"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"}, // surrogate pair
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(WideToNarrow(c.Wide), c.Narrow);
        EXPECT_EQ(NarrowToWide(c.Narrow), c.Wide);
    }
    EXPECT_EQ(WideToNarrow(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD"); // lone surrogate
    const char* badUtf8[] = {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80", "\x80"};
    for (const char* bad : badUtf8)
        for (char16_t c : NarrowToWide(bad))
            EXPECT_EQ(c, u'\xFFFD') << bad;
}

TEST(Conversion, BoundedCopyNeverSplitsACharacter)
{
    const std::string text = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"; // a ü € 😀: 1+2+3+4 bytes
    struct Case
    {
        size_t Size;
        size_t Copied;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 1},  {4, 3},   {5, 3},  {6, 3},
                 {7, 6}, {8, 6}, {9, 6}, {10, 6}, {11, 10}, {40, 10}};
    for (const Case& c : cases)
    {
        char field[40];
        std::memset(field, 'X', sizeof field);
        EXPECT_EQ(CopyNarrowBounded(field, c.Size, text), c.Copied) << c.Size;
        if (c.Size > 0)
        {
            EXPECT_EQ(field[c.Copied], '\0');
            EXPECT_EQ(std::string(field, c.Copied), text.substr(0, c.Copied));
        }
        if (c.Size < sizeof field)
        {
            EXPECT_EQ(field[c.Size], 'X') << "wrote past the field of " << c.Size;
        }
    }
    char field[4];
    EXPECT_EQ(CopyWideToNarrowBounded(field, sizeof field, u"\u00FC\u00FC"), 2u);
    EXPECT_STREQ(field, "\xC3\xBC");
}

TEST(Conversion, WindowsEntryPointsReportSizesAndRefuseShortBuffers)
{
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00FC", -1, nullptr, 0, nullptr, nullptr), 3);
    char small[2];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00FC", -1, small, 2, nullptr, nullptr), 0);
    char16_t wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 4), 3);
    EXPECT_EQ(std::u16string(wide), u"ab");
}

namespace
{
VARIANT Make(VARTYPE vt, LONGLONG bits)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.llVal = bits;
    return v;
}

VARIANT Real(VARTYPE vt, double d)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_R4)
        v.fltVal = static_cast<float>(d);
    else
        v.dblVal = d;
    return v;
}

VARIANT Text(const char* s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromNarrow(s);
    return v;
}
} // namespace

TEST(Variant, CoercesBetweenAutomationTypes)
{
    struct Case
    {
        const char* Name;
        VARIANT Src;
        VARTYPE To;
        HRESULT Hr;
        const char* AsText; // the result shown as text, when Hr succeeds
    } cases[] = {
        {"I4 to I2", Make(VT_I4, 1234), VT_I2, S_OK, "1234"},
        {"I4 to I2 overflow", Make(VT_I4, 40000), VT_I2, DISP_E_OVERFLOW, nullptr},
        {"negative I4 to I2", Make(VT_I4, -32768), VT_I2, S_OK, "-32768"},
        {"text to I4", Text(" 42 "), VT_I4, S_OK, "42"},
        {"text to I2 overflow", Text("99999"), VT_I2, DISP_E_OVERFLOW, nullptr},
        {"text to I4 mismatch", Text("4x"), VT_I4, DISP_E_TYPEMISMATCH, nullptr},
        {"empty text to I4", Text(""), VT_I4, DISP_E_TYPEMISMATCH, nullptr},
        {"text True to BOOL", Text("true"), VT_BOOL, S_OK, "True"},
        {"text 0 to BOOL", Text("0"), VT_BOOL, S_OK, "False"},
        {"text yes to BOOL", Text("yes"), VT_BOOL, DISP_E_TYPEMISMATCH, nullptr},
        {"I2 to BOOL", Make(VT_I2, 7), VT_BOOL, S_OK, "True"},
        {"BOOL to I4", Make(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, "-1"},
        {"EMPTY to I4", Make(VT_EMPTY, 0), VT_I4, S_OK, "0"},
        {"EMPTY to BSTR", Make(VT_EMPTY, 0), VT_BSTR, S_OK, ""},
        {"ERROR to I4", Make(VT_ERROR, E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, nullptr},
        {"NULL to BSTR", Make(VT_NULL, 0), VT_BSTR, DISP_E_TYPEMISMATCH, nullptr},
        {"R8 to I4 rounds half to even", Real(VT_R8, 2.5), VT_I4, S_OK, "2"},
        {"R8 to I4 rounds half to even, odd", Real(VT_R8, -3.5), VT_I4, S_OK, "-4"},
        {"R8 to I2 overflow", Real(VT_R8, 32767.6), VT_I2, DISP_E_OVERFLOW, nullptr},
        {"R8 NaN to I4", Real(VT_R8, std::nan("")), VT_I4, DISP_E_OVERFLOW, nullptr},
        {"R8 1e300 to UI8", Real(VT_R8, 1e300), VT_UI8, DISP_E_OVERFLOW, nullptr},
        {"R8 to BOOL", Real(VT_R8, 0.25), VT_BOOL, S_OK, "True"},
        {"R8 to BSTR, shortest", Real(VT_R8, 0.1), VT_BSTR, S_OK, "0.1"},
        {"R4 to R8 keeps the float's value", Real(VT_R4, 0.1), VT_R8, S_OK, "0.10000000149011612"},
        {"R8 to R4 overflow", Real(VT_R8, 1e39), VT_R4, DISP_E_OVERFLOW, nullptr},
        {"R8 to R4", Real(VT_R8, -1.5e-3), VT_R4, S_OK, "-0.0015"},
        {"text to R8", Text(" +6.25e2 "), VT_R8, S_OK, "625"},
        {"text to R8 out of range", Text("1e999"), VT_R8, DISP_E_OVERFLOW, nullptr},
        {"text inf to R8", Text("inf"), VT_R8, DISP_E_TYPEMISMATCH, nullptr},
        {"text with two signs to R8", Text("+-2"), VT_R8, DISP_E_TYPEMISMATCH, nullptr},
        {"text to R4 mismatch", Text("1.5x"), VT_R4, DISP_E_TYPEMISMATCH, nullptr},
        {"I8 to R8", Make(VT_I8, -9007199254740993LL), VT_R8, S_OK, "-9007199254740992"},
        {"BOOL to R8", Make(VT_BOOL, VARIANT_TRUE), VT_R8, S_OK, "-1"},
    };
    for (Case& c : cases)
    {
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &c.Src, 0, c.To), c.Hr) << c.Name;
        if (SUCCEEDED(c.Hr))
        {
            EXPECT_EQ(out.vt, c.To) << c.Name;
            VARIANT text;
            VariantInit(&text);
            ASSERT_EQ(VariantChangeType(&text, &out, VARIANT_ALPHABOOL, VT_BSTR), S_OK) << c.Name;
            EXPECT_EQ(NarrowFromBstr(text.bstrVal), c.AsText) << c.Name;
            VariantClear(&text);
        }
        else
            EXPECT_EQ(out.vt, VT_EMPTY) << "destination untouched on failure: " << c.Name;
        VariantClear(&out);
        VariantClear(&c.Src);
    }
}

TEST(Variant, BoolToTextIsMinusOneWithoutAlphaFlag)
{
    VARIANT b = Make(VT_BOOL, VARIANT_TRUE), out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &b, 0, VT_BSTR), S_OK);
    EXPECT_EQ(NarrowFromBstr(out.bstrVal), "-1");
    VariantClear(&out);
}

TEST(Variant, CopyAndInPlaceChangeOwnTheirText)
{
    VARIANT a = Text("hello"), b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);                        // a fresh copy
    ASSERT_EQ(VariantChangeType(&b, &b, 0, VT_BSTR), S_OK); // dest == src
    EXPECT_EQ(NarrowFromBstr(b.bstrVal), "hello");
    VariantClear(&a);
    VariantClear(&b);

    SHORT n = 12;
    VARIANT ref = Make(VT_BYREF | VT_I2, 0);
    ref.piVal = &n;
    VARIANT value;
    VariantInit(&value);
    ASSERT_EQ(VariantChangeType(&value, &ref, 0, VT_BSTR), S_OK); // follows the reference
    EXPECT_EQ(NarrowFromBstr(value.bstrVal), "12");
    VariantClear(&value);
    EXPECT_EQ(VariantClear(&ref), S_OK); // a reference owns nothing
    EXPECT_EQ(n, 12);

    VARIANT unsupported = Make(VT_ARRAY | VT_I4, 0);
    EXPECT_EQ(VariantClear(&unsupported), DISP_E_BADVARTYPE);
}
