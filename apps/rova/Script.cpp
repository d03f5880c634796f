#include "Script.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

namespace rova::lang {
namespace {

bool isSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool endsWord(char c) noexcept {
    return isSpace(c) || c == '\n' || c == ';' || c == '(' || c == ')' || c == ',' || c == '"';
}

// -inf, -nan and -infinity are numbers, not flags.
bool isNegativeSpecialNumber(std::string_view word) noexcept {
    std::string lower;
    for (char c : word.substr(1))
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "inf" || lower == "nan" || lower == "infinity";
}

struct Token {
    enum class Kind { kWord, kLParen, kRParen, kComma, kSeparator, kEnd, kError };
    Kind kind = Kind::kEnd;
    Word word;
    int line = 0;
    std::string error;     // kError: what is wrong
    bool newline = false;  // kSeparator: a line end rather than ';'
};

class Lexer {
  public:
    Lexer(std::string_view text, int firstLine) : m_text(text), m_line(firstLine) {}

    Token next() {
        skipBlanksAndComments();
        Token token;
        token.line = m_line;
        if (m_pos >= m_text.size())
            return token;
        const char c = m_text[m_pos];
        switch (c) {
            case '\n':
                ++m_pos;
                ++m_line;
                token.kind = Token::Kind::kSeparator;
                token.newline = true;
                return token;
            case ';':
                ++m_pos;
                token.kind = Token::Kind::kSeparator;
                return token;
            case '(':
                ++m_pos;
                token.kind = Token::Kind::kLParen;
                return token;
            case ')':
                ++m_pos;
                token.kind = Token::Kind::kRParen;
                return token;
            case ',':
                ++m_pos;
                token.kind = Token::Kind::kComma;
                return token;
            case '"':
                return string(token);
            default:
                if (m_text.substr(m_pos, 2) == "<<" && m_pos + 2 < m_text.size() &&
                    (isLetter(m_text[m_pos + 2]) || m_text[m_pos + 2] == '_'))
                    return textBlock(token);
                return bare(token);
        }
    }

    bool unfinished() const noexcept { return m_unfinished; }

    // After an error: drop the rest of the statement, up to (not including) the next separator.
    void skipToSeparator() {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n' && m_text[m_pos] != ';') ++m_pos;
    }

  private:
    void skipBlanksAndComments() {
        for (;;) {
            while (m_pos < m_text.size() && isSpace(m_text[m_pos])) ++m_pos;
            if (m_text.substr(m_pos, 2) != "//")
                return;
            while (m_pos < m_text.size() && m_text[m_pos] != '\n') ++m_pos;
        }
    }

    Token bare(Token& token) {
        token.word.line = token.line;
        const size_t start = m_pos;
        while (m_pos < m_text.size() && !endsWord(m_text[m_pos]) && m_text.substr(m_pos, 2) != "//")
            ++m_pos;
        std::string_view text = m_text.substr(start, m_pos - start);
        token.kind = Token::Kind::kWord;
        if (text.size() > 1 && text[0] == '-' && (isLetter(text[1]) || text[1] == '_') &&
            !isNegativeSpecialNumber(text)) {
            token.word.kind = Word::Kind::kFlag;
            token.word.text = std::string(text.substr(1));
        } else {
            token.word.kind = Word::Kind::kBare;
            token.word.text = std::string(text);
        }
        return token;
    }

    Token fail(Token& token, std::string message) {
        token.kind = Token::Kind::kError;
        token.error = std::move(message);
        return token;
    }

    // <<TAG ends its line; the block is the lines after it up to one holding only TAG (blanks
    // around it allowed), less the indentation they all share, so code inside keeps its own
    // indentation relative to the block. The line end after TAG's line ends the statement.
    Token textBlock(Token& token) {
        const int startLine = m_line;
        m_pos += 2;
        const size_t tagStart = m_pos;
        while (m_pos < m_text.size() &&
               (isLetter(m_text[m_pos]) || isDigit(m_text[m_pos]) || m_text[m_pos] == '_'))
            ++m_pos;
        const std::string tag(m_text.substr(tagStart, m_pos - tagStart));
        skipBlanksAndComments();
        // Text after the tag is refused, but the block is still taken whole, so that its lines
        // are not read as statements.
        std::string misplaced;
        if (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            const size_t rest = m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] != '\n') ++m_pos;
            std::string_view after = trimmed(m_text.substr(rest, m_pos - rest));
            misplaced = "text block <<" + tag + " must end its line, got '" +
                        std::string(after.substr(0, 40)) + (after.size() > 40 ? "...'" : "'");
        }
        std::vector<std::string_view> lines;
        bool closed = false;
        while (m_pos < m_text.size()) {
            ++m_pos;  // the line end before this line
            ++m_line;
            const size_t end = std::min(m_text.find('\n', m_pos), m_text.size());
            std::string_view line = m_text.substr(m_pos, end - m_pos);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            m_pos = end;
            if (trimmed(line) == tag) {
                closed = true;
                break;
            }
            lines.push_back(line);
        }
        if (!closed) {
            m_unfinished = true;
            return fail(token,
                        "text block <<" + tag + " has no end (a line holding only " + tag + ")");
        }
        if (!misplaced.empty())
            return fail(token, misplaced);
        token.kind = Token::Kind::kWord;
        token.word.kind = Word::Kind::kString;
        token.word.line = startLine + 1;
        token.word.text = dedented(lines);
        return token;
    }

    static std::string_view trimmed(std::string_view line) {
        while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
        while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
        return line;
    }

    // The lines joined, each ending in a line end, less the leading blanks every line that is
    // not blank starts with; blank lines become empty.
    static std::string dedented(const std::vector<std::string_view>& lines) {
        std::optional<std::string_view> common;
        for (std::string_view line : lines) {
            if (trimmed(line).empty())
                continue;
            size_t indent = 0;
            while (indent < line.size() && isSpace(line[indent])) ++indent;
            std::string_view own = line.substr(0, indent);
            if (!common) {
                common = own;
                continue;
            }
            size_t shared = 0;
            while (shared < common->size() && shared < own.size() &&
                   (*common)[shared] == own[shared])
                ++shared;
            common = common->substr(0, shared);
        }
        std::string text;
        for (std::string_view line : lines) {
            if (!trimmed(line).empty())
                text += line.substr(common ? common->size() : 0);
            text += '\n';
        }
        return text;
    }

    Token string(Token& token) {
        token.word.line = token.line;
        ++m_pos;  // opening quote
        std::string value;
        for (;;) {
            if (m_pos >= m_text.size() || m_text[m_pos] == '\n')
                return fail(token, "unterminated string (a string ends on the line it starts)");
            const char c = m_text[m_pos++];
            if (c == '"')
                break;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (m_pos >= m_text.size())
                return fail(token, "unterminated string");
            const char e = m_text[m_pos++];
            switch (e) {
                case 'n':
                    value += '\n';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 'a':
                    value += '\a';
                    break;
                case 'b':
                    value += '\b';
                    break;
                case 'f':
                    value += '\f';
                    break;
                case 'v':
                    value += '\v';
                    break;
                case '0':
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7': {
                    int code = e - '0';
                    for (int i = 0; i < 2 && m_pos < m_text.size() && m_text[m_pos] >= '0' &&
                                    m_text[m_pos] <= '7';
                         ++i)
                        code = code * 8 + (m_text[m_pos++] - '0');
                    if (code > 255)
                        return fail(token, "octal escape out of range");
                    value += static_cast<char>(code);
                    break;
                }
                case 'x': {
                    int code = 0;
                    int digits = 0;
                    while (digits < 2 && m_pos < m_text.size() &&
                           std::isxdigit(static_cast<unsigned char>(m_text[m_pos]))) {
                        const char h = static_cast<char>(
                            std::tolower(static_cast<unsigned char>(m_text[m_pos++])));
                        code = code * 16 + (isDigit(h) ? h - '0' : h - 'a' + 10);
                        ++digits;
                    }
                    if (digits == 0)
                        return fail(token, "\\x needs hexadecimal digits");
                    value += static_cast<char>(code);
                    break;
                }
                case '\\':
                case '"':
                case '\'':
                case '?':
                    value += e;
                    break;
                default:
                    return fail(token, std::string("unknown escape \\") + e + " in string");
            }
        }
        token.kind = Token::Kind::kWord;
        token.word.kind = Word::Kind::kString;
        token.word.text = std::move(value);
        return token;
    }

    std::string_view m_text;
    size_t m_pos = 0;
    int m_line;
    bool m_unfinished = false;
};

class Parser {
  public:
    Parser(std::string_view text, int firstLine) : m_lexer(text, firstLine) { advance(); }

    Script run() {
        Script script;
        while (m_token.kind != Token::Kind::kEnd) {
            if (m_token.kind == Token::Kind::kSeparator) {
                advance();
                continue;
            }
            statement(script);
        }
        script.unfinished = m_lexer.unfinished();
        return script;
    }

  private:
    void advance() { m_token = m_lexer.next(); }

    void fail(Script& script, int line, const std::string& command, std::string message) {
        script.errors.push_back({line, command, std::move(message)});
        if (m_token.kind != Token::Kind::kSeparator && m_token.kind != Token::Kind::kEnd) {
            m_lexer.skipToSeparator();
            advance();
        }
    }

    // A word as a message shows it: control characters and a byte-order mark, which a terminal
    // would not show, are written as escapes.
    static std::string visible(std::string_view text) {
        static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        static constexpr char kHex[] = "0123456789abcdef";
        std::string out;
        for (std::size_t k = 0; k < text.size(); ++k) {
            const auto c = static_cast<unsigned char>(text[k]);
            if (text.substr(k, kByteOrderMark.size()) == kByteOrderMark) {
                out += "\\ufeff";
                k += kByteOrderMark.size() - 1;
            } else if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 0xf];
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    static std::string describe(const Token& token) {
        switch (token.kind) {
            case Token::Kind::kWord:
                return "'" + visible(token.word.spelled()) + "'";
            case Token::Kind::kLParen:
                return "'('";
            case Token::Kind::kRParen:
                return "')'";
            case Token::Kind::kComma:
                return "','";
            case Token::Kind::kSeparator:
                return "end of statement";
            case Token::Kind::kEnd:
                return "end of input";
            case Token::Kind::kError:
                return token.error;
        }
        return "?";
    }

    void statement(Script& script) {
        Statement st;
        st.line = m_token.line;
        if (m_token.kind == Token::Kind::kError)
            return fail(script, st.line, "", m_token.error);
        if (m_token.kind != Token::Kind::kWord || m_token.word.kind != Word::Kind::kBare ||
            !isIdentifier(m_token.word.text))
            return fail(script, st.line, "", "expected a command name, got " + describe(m_token));
        st.name = m_token.word.text;
        advance();
        if (m_token.kind == Token::Kind::kLParen) {
            if (!callArguments(script, st))
                return;
        } else {
            while (m_token.kind == Token::Kind::kWord) {
                st.words.push_back(m_token.word);
                advance();
            }
            if (m_token.kind == Token::Kind::kError)
                return fail(script, st.line, st.name, m_token.error);
            if (m_token.kind != Token::Kind::kSeparator && m_token.kind != Token::Kind::kEnd)
                return fail(script, st.line, st.name,
                            "unexpected " + describe(m_token) +
                                " (the call form is name(arg, ...); quote text that holds it)");
        }
        script.statements.push_back(std::move(st));
    }

    // name(arg, arg, ...): line ends inside the parentheses are blanks; an argument may be
    // several words.
    bool callArguments(Script& script, Statement& st) {
        st.callForm = true;
        const int line = st.line;
        advance();
        auto skipLineEnds = [&] {
            while (m_token.kind == Token::Kind::kSeparator && m_token.newline) advance();
        };
        skipLineEnds();
        if (m_token.kind == Token::Kind::kRParen) {
            advance();
        } else {
            for (;;) {
                size_t wordsInArgument = 0;
                skipLineEnds();
                while (m_token.kind == Token::Kind::kWord) {
                    st.words.push_back(m_token.word);
                    ++wordsInArgument;
                    advance();
                    skipLineEnds();
                }
                if (m_token.kind == Token::Kind::kError) {
                    fail(script, line, st.name, m_token.error);
                    return false;
                }
                if (wordsInArgument == 0) {
                    fail(script, line, st.name, "expected an argument, got " + describe(m_token));
                    return false;
                }
                if (m_token.kind == Token::Kind::kComma) {
                    advance();
                    continue;
                }
                if (m_token.kind == Token::Kind::kRParen) {
                    advance();
                    break;
                }
                fail(script, line, st.name, "expected ',' or ')', got " + describe(m_token));
                return false;
            }
        }
        if (m_token.kind == Token::Kind::kSeparator || m_token.kind == Token::Kind::kEnd)
            return true;
        fail(script, line, st.name,
             "expected ';' or a line end after ')', got " + describe(m_token));
        return false;
    }

    Lexer m_lexer;
    Token m_token;
};

}  // namespace

std::string Word::spelled() const {
    switch (kind) {
        case Kind::kFlag:
            return "-" + text;
        case Kind::kString:
            return quoteString(text);
        case Kind::kBare:
            break;
    }
    return text;
}

std::string Statement::text() const {
    std::string out = name;
    if (callForm) {
        out += '(';
        for (size_t i = 0; i < words.size(); ++i) out += (i ? ", " : "") + words[i].spelled();
        return out + ')';
    }
    for (const Word& w : words) out += ' ' + w.spelled();
    return out;
}

Script parseScript(std::string_view text, int firstLine) {
    // Editors on some systems begin a UTF-8 file with a byte-order mark: it is not part of the
    // script.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return Parser(text, firstLine).run();
}

bool isIdentifier(std::string_view text) noexcept {
    if (text.empty() || isDigit(text[0]))
        return false;
    for (char c : text)
        if (!isLetter(c) && !isDigit(c) && c != '_')
            return false;
    return true;
}

std::string quoteString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
                    out += buffer;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace rova::lang
