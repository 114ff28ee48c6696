#include "RegistryScript.h"

#include "ComInternal.h"
#include "ComRegistry.h"

#include <cctype>

namespace {

using comrt::internal::IEquals;

struct Node {
    enum Mode { Plain, NoRemove, ForceRemove, Delete };
    Mode mode = Plain;
    std::string name;
    bool hasDefault = false;
    std::string defaultValue;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<Node> children;
};

struct Root {
    HKEY key;
    std::vector<Node> children;
};

struct Token {
    enum Kind { End, Word, Quoted, Open, Close, Equals };
    Kind kind = End;
    std::string text;
};

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    bool parse(std::vector<Root>* roots)
    {
        next();
        while (m_token.kind != Token::End) {
            if (m_token.kind != Token::Word)
                return false;
            Root root{};
            if (IEquals(m_token.text, "HKCR") || IEquals(m_token.text, "HKEY_CLASSES_ROOT"))
                root.key = HKEY_CLASSES_ROOT;
            else if (IEquals(m_token.text, "HKCU") || IEquals(m_token.text, "HKEY_CURRENT_USER"))
                root.key = HKEY_CURRENT_USER;
            else if (IEquals(m_token.text, "HKLM") || IEquals(m_token.text, "HKEY_LOCAL_MACHINE"))
                root.key = HKEY_LOCAL_MACHINE;
            else
                return false;
            next();
            if (m_token.kind != Token::Open)
                return false;
            next();
            if (!parseBlock(&root.children, nullptr))
                return false;
            roots->push_back(std::move(root));
        }
        return m_ok;
    }

private:
    // Reads keys and values up to the closing brace (consumed).
    bool parseBlock(std::vector<Node>* keys, Node* owner)
    {
        while (m_token.kind != Token::Close) {
            if (m_token.kind == Token::Word && IEquals(m_token.text, "val")) {
                next();
                std::string name, value;
                if (!isName() || !owner)
                    return false;
                name = m_token.text;
                next();
                if (!readAssignment(&value))
                    return false;
                owner->values.emplace_back(name, value);
                continue;
            }
            Node node;
            if (m_token.kind == Token::Word) {
                if (IEquals(m_token.text, "NoRemove"))
                    node.mode = Node::NoRemove;
                else if (IEquals(m_token.text, "ForceRemove"))
                    node.mode = Node::ForceRemove;
                else if (IEquals(m_token.text, "Delete"))
                    node.mode = Node::Delete;
                if (node.mode != Node::Plain)
                    next();
            }
            if (!isName() || m_token.text.empty())
                return false;
            node.name = m_token.text;
            next();
            if (m_token.kind == Token::Equals) {
                if (!readAssignment(&node.defaultValue))
                    return false;
                node.hasDefault = true;
            }
            if (m_token.kind == Token::Open) {
                next();
                if (!parseBlock(&node.children, &node))
                    return false;
            }
            keys->push_back(std::move(node));
        }
        next();
        return m_ok;
    }

    // "= s 'value'" (the '=' is the current token).
    bool readAssignment(std::string* value)
    {
        if (m_token.kind != Token::Equals)
            return false;
        next();
        if (m_token.kind != Token::Word || !IEquals(m_token.text, "s"))
            return false;
        next();
        if (m_token.kind != Token::Quoted)
            return false;
        *value = m_token.text;
        next();
        return true;
    }

    bool isName() const { return m_token.kind == Token::Word || m_token.kind == Token::Quoted; }

    void next()
    {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
        m_token = Token{};
        if (m_pos >= m_text.size())
            return;
        const char c = m_text[m_pos];
        // A bare class identifier is a key name, not a block.
        if (c == '{' && m_pos + 38 <= m_text.size() &&
            comrt::ParseGuid(m_text.substr(m_pos, 38), nullptr)) {
            m_token.kind = Token::Word;
            m_token.text = std::string(m_text.substr(m_pos, 38));
            m_pos += 38;
            return;
        }
        if (c == '{' || c == '}' || c == '=') {
            m_token.kind = c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals;
            ++m_pos;
            return;
        }
        if (c == '\'') {
            ++m_pos;
            m_token.kind = Token::Quoted;
            while (true) {
                if (m_pos >= m_text.size()) { // unterminated
                    m_ok = false;
                    m_token.kind = Token::End;
                    return;
                }
                const char q = m_text[m_pos++];
                if (q == '\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                        m_token.text.push_back('\'');
                        ++m_pos;
                        continue;
                    }
                    return;
                }
                m_token.text.push_back(q);
            }
        }
        m_token.kind = Token::Word;
        while (m_pos < m_text.size()) {
            const char w = m_text[m_pos];
            if (std::isspace(static_cast<unsigned char>(w)) || w == '{' || w == '}' || w == '=' ||
                w == '\'')
                break;
            m_token.text.push_back(w);
            ++m_pos;
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
    Token m_token;
    bool m_ok = true;
};

HRESULT Status(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

HRESULT SetValue(HKEY key, const char* name, const std::string& value)
{
    return Status(RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)));
}

HRESULT Register(HKEY parent, const Node& node)
{
    if (node.mode == Node::Delete || node.mode == Node::ForceRemove) {
        const LONG rc = RegDeleteTree(parent, node.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            return Status(rc);
        if (node.mode == Node::Delete)
            return S_OK;
    }
    HKEY key = nullptr;
    HRESULT hr = Status(RegCreateKeyEx(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr));
    if (FAILED(hr))
        return hr;
    if (node.hasDefault)
        hr = SetValue(key, nullptr, node.defaultValue);
    for (size_t i = 0; SUCCEEDED(hr) && i < node.values.size(); ++i)
        hr = SetValue(key, node.values[i].first.c_str(), node.values[i].second);
    for (size_t i = 0; SUCCEEDED(hr) && i < node.children.size(); ++i)
        hr = Register(key, node.children[i]);
    RegCloseKey(key);
    return hr;
}

HRESULT Unregister(HKEY parent, const Node& node)
{
    if (node.mode == Node::Delete)
        return S_OK;
    if (node.mode != Node::NoRemove) {
        const LONG rc = RegDeleteTree(parent, node.name.c_str());
        return rc == ERROR_FILE_NOT_FOUND ? S_OK : Status(rc);
    }
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyEx(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (rc != ERROR_SUCCESS)
        return Status(rc);
    HRESULT first = S_OK;
    for (const auto& [name, value] : node.values) {
        const LONG v = RegDeleteValue(key, name.c_str());
        if (v != ERROR_SUCCESS && v != ERROR_FILE_NOT_FOUND && SUCCEEDED(first))
            first = Status(v);
    }
    for (const Node& child : node.children) {
        const HRESULT hr = Unregister(key, child);
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    }
    RegCloseKey(key);
    return first;
}

// Replaces %NAME% by its value; false for an unknown name or a lone %.
bool Substitute(std::string_view script, const comrt::ScriptVariables& variables,
                std::string* out)
{
    out->clear();
    size_t pos = 0;
    while (pos < script.size()) {
        const size_t start = script.find('%', pos);
        if (start == std::string_view::npos) {
            out->append(script.substr(pos));
            break;
        }
        out->append(script.substr(pos, start - pos));
        const size_t end = script.find('%', start + 1);
        if (end == std::string_view::npos)
            return false;
        const std::string_view name = script.substr(start + 1, end - start - 1);
        if (name.empty()) {
            out->push_back('%');
        } else {
            bool found = false;
            for (const auto& [n, v] : variables) {
                if (IEquals(n, name)) {
                    out->append(v);
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
        }
        pos = end + 1;
    }
    return true;
}

} // namespace

HRESULT comrt::RunRegistryScript(std::string_view script, const ScriptVariables& variables,
                                 bool registering)
{
    std::string text;
    std::vector<Root> roots;
    try {
        if (!Substitute(script, variables, &text))
            return E_INVALIDARG;
        Parser parser(text);
        if (!parser.parse(&roots))
            return E_INVALIDARG;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT first = S_OK;
    for (const Root& root : roots) {
        for (const Node& node : root.children) {
            const HRESULT hr = registering ? Register(root.key, node) : Unregister(root.key, node);
            if (FAILED(hr)) {
                if (registering)
                    return hr;
                if (SUCCEEDED(first))
                    first = hr;
            }
        }
    }
    return first;
}

std::string comrt::QuoteForRegistryScript(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        out.push_back(c);
        if (c == '\'')
            out.push_back('\'');
    }
    return out;
}
