// Reads a registration script (text) into a tree of keys with their values and flags.
#include "lanvex/net/transport/registry_script.h"

#include <cctype>

namespace lanvex
{

namespace
{

constexpr int kMaxDepth = 32; // scripts are shallow; the bound keeps hostile input off the stack

enum class TokenKind
{
    End,
    Word,   // bare word or {GUID}
    Quoted, // 'text' with '' for a quote
    Open,
    Close,
    Equals,
    Error,
};

struct Token
{
    TokenKind Kind = TokenKind::End;
    std::string Text;
    int Line = 1;
};

class CScriptLexer
{
  public:
    explicit CScriptLexer(std::string_view text) : m_text(text) {}

    Token Next()
    {
        SkipSpace();
        Token token;
        token.Line = m_nLine;
        if (m_nPos >= m_text.size())
            return token;
        const char c = m_text[m_nPos];
        if (c == '{')
        {
            // "{" that encloses only hex digits and dashes is a GUID key name, else a block.
            size_t nEnd = m_nPos + 1;
            while (nEnd < m_text.size() &&
                   (std::isxdigit(static_cast<unsigned char>(m_text[nEnd])) || m_text[nEnd] == '-'))
                ++nEnd;
            if (nEnd > m_nPos + 1 && nEnd < m_text.size() && m_text[nEnd] == '}')
            {
                token.Kind = TokenKind::Word;
                token.Text = std::string(m_text.substr(m_nPos, nEnd + 1 - m_nPos));
                m_nPos = nEnd + 1;
                return token;
            }
            ++m_nPos;
            token.Kind = TokenKind::Open;
            return token;
        }
        if (c == '}')
        {
            ++m_nPos;
            token.Kind = TokenKind::Close;
            return token;
        }
        if (c == '=')
        {
            ++m_nPos;
            token.Kind = TokenKind::Equals;
            return token;
        }
        if (c == '\'')
        {
            ++m_nPos;
            token.Kind = TokenKind::Quoted;
            for (;;)
            {
                if (m_nPos >= m_text.size())
                    return Fail(token, "unterminated quoted text");
                const char q = m_text[m_nPos++];
                if (q == '\n')
                    ++m_nLine;
                if (q == '\'')
                {
                    if (m_nPos < m_text.size() && m_text[m_nPos] == '\'')
                    {
                        token.Text.push_back('\'');
                        ++m_nPos;
                        continue;
                    }
                    return token;
                }
                token.Text.push_back(q);
            }
        }
        token.Kind = TokenKind::Word;
        while (m_nPos < m_text.size())
        {
            const char w = m_text[m_nPos];
            if (std::isspace(static_cast<unsigned char>(w)) || w == '{' || w == '}' || w == '=' ||
                w == '\'')
                break;
            token.Text.push_back(w);
            ++m_nPos;
        }
        return token;
    }

  private:
    void SkipSpace()
    {
        while (m_nPos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_nPos])))
        {
            if (m_text[m_nPos] == '\n')
                ++m_nLine;
            ++m_nPos;
        }
    }

    Token Fail(Token token, const char* pszWhy)
    {
        token.Kind = TokenKind::Error;
        token.Text = pszWhy;
        m_nPos = m_text.size();
        return token;
    }

    std::string_view m_text;
    size_t m_nPos = 0;
    int m_nLine = 1;
};

class CScriptParser
{
  public:
    CScriptParser(std::string_view text, std::string* pError) : m_lexer(text), m_pError(pError)
    {
        Advance();
    }

    bool ParseRoots(RegScript* pScript)
    {
        while (m_token.Kind != TokenKind::End)
        {
            if (m_token.Kind != TokenKind::Word)
                return Fail("expected a root key");
            const std::string& root = m_token.Text;
            if (root != "HKCR" && root != "HKEY_CLASSES_ROOT" && root != "HKCU" &&
                root != "HKEY_CURRENT_USER")
                return Fail("unknown root key '" + root + "'");
            RegScriptKey key;
            key.Name = (root == "HKCR" || root == "HKEY_CLASSES_ROOT") ? "HKEY_CLASSES_ROOT"
                                                                       : "HKEY_CURRENT_USER";
            key.NoRemove = true;
            Advance();
            if (m_token.Kind == TokenKind::Open && !ParseBlock(&key, 1))
                return false;
            pScript->Roots.push_back(std::move(key));
        }
        return true;
    }

  private:
    void Advance() { m_token = m_lexer.Next(); }

    bool Fail(const std::string& why)
    {
        if (m_pError != nullptr)
        {
            if (m_token.Kind == TokenKind::Error)
                *m_pError = "line " + std::to_string(m_token.Line) + ": " + m_token.Text;
            else
                *m_pError = "line " + std::to_string(m_token.Line) + ": " + why;
        }
        return false;
    }

    // Expects "= s 'text'" and returns the text.
    bool ParseStringValue(std::string* pValue)
    {
        if (m_token.Kind != TokenKind::Equals)
            return Fail("expected '='");
        Advance();
        if (m_token.Kind != TokenKind::Word || (m_token.Text != "s" && m_token.Text != "S"))
            return Fail("only string values (s) are supported");
        Advance();
        if (m_token.Kind != TokenKind::Quoted)
            return Fail("expected a quoted value");
        *pValue = m_token.Text;
        Advance();
        return true;
    }

    // At "{": reads keys and values up to the matching "}".
    bool ParseBlock(RegScriptKey* pParent, int nDepth)
    {
        if (nDepth > kMaxDepth)
            return Fail("keys nested too deeply");
        Advance(); // "{"
        for (;;)
        {
            switch (m_token.Kind)
            {
            case TokenKind::Close:
                Advance();
                return true;
            case TokenKind::End:
                return Fail("missing '}'");
            case TokenKind::Word:
            case TokenKind::Quoted:
                break;
            default:
                return Fail("expected a key name");
            }
            if (m_token.Kind == TokenKind::Word && m_token.Text == "val")
            {
                Advance();
                if (m_token.Kind != TokenKind::Word && m_token.Kind != TokenKind::Quoted)
                    return Fail("expected a value name");
                std::string name = m_token.Text;
                Advance();
                std::string value;
                if (!ParseStringValue(&value))
                    return false;
                pParent->Values.emplace_back(std::move(name), std::move(value));
                continue;
            }
            RegScriptKey key;
            while (m_token.Kind == TokenKind::Word &&
                   (m_token.Text == "NoRemove" || m_token.Text == "ForceRemove" ||
                    m_token.Text == "Delete"))
            {
                if (m_token.Text == "NoRemove")
                    key.NoRemove = true;
                else if (m_token.Text == "ForceRemove")
                    key.ForceRemove = true;
                else
                    return Fail("'Delete' is not supported");
                Advance();
            }
            if (m_token.Kind != TokenKind::Word && m_token.Kind != TokenKind::Quoted)
                return Fail("expected a key name");
            key.Name = m_token.Text;
            if (key.Name.empty() || key.Name.find('\\') != std::string::npos)
                return Fail("bad key name '" + key.Name + "'");
            Advance();
            if (m_token.Kind == TokenKind::Equals)
            {
                if (!ParseStringValue(&key.Default))
                    return false;
                key.HasDefault = true;
            }
            if (m_token.Kind == TokenKind::Open && !ParseBlock(&key, nDepth + 1))
                return false;
            pParent->Subkeys.push_back(std::move(key));
        }
    }

    CScriptLexer m_lexer;
    Token m_token;
    std::string* m_pError;
};

} // namespace

bool ExpandScriptMacros(std::string_view text,
                        const std::vector<std::pair<std::string, std::string>>& macros,
                        std::string* pResult, std::string* pError)
{
    std::string result;
    result.reserve(text.size());
    size_t nPos = 0;
    while (nPos < text.size())
    {
        const size_t nStart = text.find('%', nPos);
        if (nStart == std::string_view::npos)
        {
            result.append(text.substr(nPos));
            break;
        }
        result.append(text.substr(nPos, nStart - nPos));
        const size_t nEnd = text.find('%', nStart + 1);
        if (nEnd == std::string_view::npos)
        {
            if (pError)
                *pError = "unterminated %NAME%";
            return false;
        }
        const std::string_view name = text.substr(nStart + 1, nEnd - nStart - 1);
        if (name.empty())
        {
            result.push_back('%');
        }
        else
        {
            const std::pair<std::string, std::string>* pFound = nullptr;
            for (const auto& macro : macros)
                if (macro.first == name)
                    pFound = &macro;
            if (pFound == nullptr)
            {
                if (pError)
                    *pError = "unknown %" + std::string(name) + "%";
                return false;
            }
            for (char c : pFound->second)
            {
                result.push_back(c);
                if (c == '\'')
                    result.push_back('\'');
            }
        }
        nPos = nEnd + 1;
    }
    *pResult = std::move(result);
    return true;
}

bool ParseRegScript(std::string_view text, RegScript* pScript, std::string* pError)
{
    RegScript script;
    CScriptParser parser(text, pError);
    if (!parser.ParseRoots(&script))
        return false;
    *pScript = std::move(script);
    return true;
}

} // namespace lanvex
