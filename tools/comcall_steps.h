// comcall's steps: parsing "Name", "Name=value" and "Name(arg, ...)", running one through
// IDispatch, and printing the result.
#pragma once

#include "platform/com/comrt.h"

#include <string>
#include <vector>

enum class StepKind
{
    Get,  // Name: property get or a method without arguments
    Put,  // Name=value
    Call, // Name(arg, ...)
};

// One argument as written: quoted text stays text; a bare decimal number that fits in 32 bits is a
// number; any other bare text is text. The member's parameter types decide the final coercion.
struct StepArg
{
    bool Quoted = false;
    std::string Text;
};

struct Step
{
    StepKind Kind = StepKind::Get;
    std::string Name;
    std::vector<StepArg> Args; // Put: one; Call: any number
};

// Parses one step; false with *error set for a malformed one ("Name(1" or "=3").
bool ParseStep(const std::string& text, Step* step, std::string* error);
// The argument as a VARIANT (VT_I4 or VT_BSTR); the caller clears it.
HRESULT StepArgToVariant(const StepArg& arg, VARIANT* out);
// A value as comcall prints it: text as it stands, numbers in decimal, booleans True/False.
std::string FormatVariant(const VARIANT& value);

struct StepResult
{
    HRESULT Hr = S_OK;       // the member's result (the real failure, not DISP_E_EXCEPTION)
    bool HasValue = false;   // a value came back
    std::string Value;       // formatted value
    std::string Description; // the error object's description, if there was one
    std::string Detail;      // why, for messages on standard error (unknown name, bad argument)
};

// Runs one step: GetIDsOfNames, then Invoke with the flags the step's form calls for.
StepResult RunStep(IDispatch* object, const Step& step);
// The line comcall prints for a result: the value, or the HRESULT ("0x80004005 description").
std::string ResultLine(const StepResult& result);
