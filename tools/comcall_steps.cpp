// comcall's step parser, runner and printer.
#include "tools/comcall_steps.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace
{
std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool IsName(const std::string& s)
{
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])))
        return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

// One argument; a quoted one may hold commas, parentheses and \" or \\ escapes.
bool ParseArg(const std::string& raw, StepArg* arg, std::string* error)
{
    std::string t = Trim(raw);
    if (!t.empty() && t[0] == '"')
    {
        arg->Quoted = true;
        arg->Text.clear();
        size_t i = 1;
        for (; i < t.size() && t[i] != '"'; ++i)
        {
            if (t[i] == '\\' && i + 1 < t.size() && (t[i + 1] == '"' || t[i + 1] == '\\'))
                ++i;
            arg->Text.push_back(t[i]);
        }
        if (i >= t.size() || i + 1 != t.size())
        {
            *error = "unterminated or trailing text after a quoted argument: " + t;
            return false;
        }
        return true;
    }
    arg->Quoted = false;
    arg->Text = t;
    return true;
}

// Splits "a, "b,c", 3" at the commas outside quotes.
bool SplitArgs(const std::string& inner, std::vector<StepArg>* args, std::string* error)
{
    if (Trim(inner).empty())
        return true;
    std::string current;
    bool quoted = false;
    for (size_t i = 0; i < inner.size(); ++i)
    {
        char c = inner[i];
        if (quoted && c == '\\' && i + 1 < inner.size())
        {
            current += c;
            current += inner[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
        {
            StepArg arg;
            if (!ParseArg(current, &arg, error))
                return false;
            args->push_back(arg);
            current.clear();
            continue;
        }
        current += c;
    }
    if (quoted)
    {
        *error = "unterminated quoted argument";
        return false;
    }
    StepArg arg;
    if (!ParseArg(current, &arg, error))
        return false;
    args->push_back(arg);
    return true;
}
} // namespace

bool ParseStep(const std::string& text, Step* step, std::string* error)
{
    *step = Step{};
    size_t eq = text.find('=');
    size_t paren = text.find('(');
    if (eq != std::string::npos && (paren == std::string::npos || eq < paren))
    {
        step->Kind = StepKind::Put;
        step->Name = Trim(text.substr(0, eq));
        StepArg arg;
        if (!ParseArg(text.substr(eq + 1), &arg, error))
            return false;
        step->Args.push_back(arg);
    }
    else if (paren != std::string::npos)
    {
        step->Kind = StepKind::Call;
        step->Name = Trim(text.substr(0, paren));
        std::string rest = Trim(text.substr(paren + 1));
        if (rest.empty() || rest.back() != ')')
        {
            *error = "missing ')' in: " + text;
            return false;
        }
        rest.pop_back();
        if (!SplitArgs(rest, &step->Args, error))
            return false;
    }
    else
    {
        step->Kind = StepKind::Get;
        step->Name = Trim(text);
    }
    if (!IsName(step->Name))
    {
        *error = "not a member name: \"" + step->Name + "\" in: " + text;
        return false;
    }
    return true;
}

HRESULT StepArgToVariant(const StepArg& arg, VARIANT* out)
{
    VariantInit(out);
    if (!arg.Quoted && !arg.Text.empty())
    {
        char* end = nullptr;
        errno = 0;
        long long n = std::strtoll(arg.Text.c_str(), &end, 10);
        if (*end == '\0' && errno == 0 && n >= INT32_MIN && n <= INT32_MAX &&
            !std::isspace(static_cast<unsigned char>(arg.Text[0])))
        {
            out->vt = VT_I4;
            out->lVal = static_cast<LONG>(n);
            return S_OK;
        }
    }
    out->vt = VT_BSTR;
    out->bstrVal = BstrFromNarrow(arg.Text);
    return out->bstrVal ? S_OK : E_OUTOFMEMORY;
}

std::string FormatVariant(const VARIANT& value)
{
    switch (value.vt)
    {
    case VT_EMPTY:
        return std::string();
    case VT_NULL:
        return "Null";
    case VT_BSTR:
        return NarrowFromBstr(value.bstrVal);
    case VT_BOOL:
        return value.boolVal ? "True" : "False";
    case VT_ERROR:
        return HResultHex(value.scode);
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return value.punkVal ? "(object)" : "Nothing";
    default:
        break;
    }
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, &value, VARIANT_ALPHABOOL, VT_BSTR)))
        return "(value of type " + std::to_string(value.vt) + ")";
    std::string out = NarrowFromBstr(text.bstrVal);
    VariantClear(&text);
    return out;
}

StepResult RunStep(IDispatch* object, const Step& step)
{
    StepResult result;
    std::u16string name = NarrowToWide(step.Name);
    LPOLESTR names[1] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    result.Hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(result.Hr))
    {
        result.Detail = step.Name + ": " +
                        (result.Hr == DISP_E_UNKNOWNNAME ? "the object has no member of this name"
                                                         : HResultText(result.Hr));
        return result;
    }

    std::vector<VARIANT> args(step.Args.size());
    // Invoke wants the arguments last to first.
    for (size_t i = 0; i < step.Args.size(); ++i)
        if (FAILED(result.Hr = StepArgToVariant(step.Args[i], &args[step.Args.size() - 1 - i])))
            return result;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()),
                      0};
    WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    if (step.Kind == StepKind::Put)
    {
        flags = DISPATCH_PROPERTYPUT;
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    else if (step.Kind == StepKind::Call)
        flags = DISPATCH_METHOD;

    VARIANT value;
    VariantInit(&value);
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &value, &excep, &argErr);
    for (VARIANT& v : args)
        VariantClear(&v);
    if (hr == DISP_E_EXCEPTION)
    {
        if (excep.pfnDeferredFillIn)
            excep.pfnDeferredFillIn(&excep);
        result.Hr = excep.scode ? excep.scode : E_FAIL;
        result.Description = NarrowFromBstr(excep.bstrDescription);
        result.Detail = step.Name + ": " + HResultText(result.Hr);
    }
    else
    {
        result.Hr = hr;
        if (FAILED(hr))
        {
            result.Detail = step.Name + ": " + HResultText(hr);
            if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE ||
                hr == DISP_E_PARAMNOTOPTIONAL)
                result.Detail += " (argument " + std::to_string(args.size() - argErr) + ")";
        }
        else if (value.vt != VT_EMPTY)
        {
            result.HasValue = true;
            result.Value = FormatVariant(value);
        }
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&value);
    return result;
}

std::string ResultLine(const StepResult& result)
{
    if (SUCCEEDED(result.Hr) && result.HasValue)
        return result.Value;
    std::string line = HResultHex(result.Hr);
    if (!result.Description.empty())
        line += " " + result.Description;
    return line;
}
