#include "platform/linux/wql.h"

#include "base/TextUtil.h"
#include "platform/wbem.h"

using textutil::IEquals;

namespace platform::lnx {

namespace {

[[noreturn]] void InvalidQuery(const std::string& why) {
    throw EWbemError(wbemErrInvalidQuery, "Invalid query: " + why);
}

class TWqlLexer {
public:
    enum class EKind { Ident, Star, Comma, Equals, String, End };
    struct TToken {
        EKind K;
        std::string Text;
    };
    explicit TWqlLexer(std::string_view text) : FText(text) {}

    TToken Next() {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' ||
                                       FText[FPos] == '\r' || FText[FPos] == '\n'))
            ++FPos;
        if (FPos >= FText.size())
            return {EKind::End, {}};
        const char c = FText[FPos];
        if (c == '*' || c == ',' || c == '=') {
            ++FPos;
            return {c == '*' ? EKind::Star : c == ',' ? EKind::Comma : EKind::Equals, {}};
        }
        if (c == '\'' || c == '"')
            return {EKind::String, ReadString(c)};
        if (IsIdentChar(c)) {
            const auto start = FPos;
            while (FPos < FText.size() && IsIdentChar(FText[FPos]))
                ++FPos;
            return {EKind::Ident, std::string(FText.substr(start, FPos - start))};
        }
        InvalidQuery("unexpected character");
    }

private:
    static bool IsIdentChar(char c) { return textutil::IsAsciiAlnum(c) || c == '_'; }
    std::string ReadString(char quote) {
        std::string value;
        ++FPos;
        while (FPos < FText.size()) {
            const char c = FText[FPos++];
            if (c == quote)
                return value;
            if (c == '\\') {
                if (FPos >= FText.size())
                    break;
                const char e = FText[FPos++];
                if (e != '\\' && e != '\'' && e != '"')
                    InvalidQuery("unknown escape in a string");
                value += e;
            } else {
                value += c;
            }
        }
        InvalidQuery("string not closed");
    }

    std::string_view FText;
    std::size_t FPos = 0;
};

} // namespace

TWqlQuery ParseWql(std::string_view text) {
    TWqlLexer lex(text);
    using K = TWqlLexer::EKind;
    auto expectWord = [&](std::string_view word) {
        const auto t = lex.Next();
        if (t.K != K::Ident || !IEquals(t.Text, word))
            InvalidQuery("expected " + std::string(word));
    };
    TWqlQuery q;
    expectWord("SELECT");
    auto t = lex.Next();
    if (t.K != K::Star) {
        for (;;) {
            if (t.K != K::Ident || IEquals(t.Text, "FROM"))
                InvalidQuery("expected a property name");
            q.Select.push_back(t.Text);
            t = lex.Next();
            if (t.K != K::Comma)
                break;
            t = lex.Next();
        }
        if (t.K != K::Ident || !IEquals(t.Text, "FROM"))
            InvalidQuery("expected FROM");
    } else {
        expectWord("FROM");
    }
    t = lex.Next();
    if (t.K != K::Ident)
        InvalidQuery("expected a class name");
    q.ClassName = t.Text;
    t = lex.Next();
    if (t.K == K::End)
        return q;
    if (t.K != K::Ident || !IEquals(t.Text, "WHERE"))
        InvalidQuery("expected WHERE");
    t = lex.Next();
    if (t.K != K::Ident)
        InvalidQuery("expected a property name after WHERE");
    q.WhereProperty = t.Text;
    if (lex.Next().K != K::Equals)
        InvalidQuery("expected =");
    t = lex.Next();
    if (t.K != K::String)
        InvalidQuery("expected a string");
    q.WhereValue = t.Text;
    if (lex.Next().K != K::End)
        InvalidQuery("text after the condition");
    q.HasWhere = true;
    return q;
}

std::string EscapePathValue(std::string_view value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// \\HOST\root\cimv2:Class.Key="value", HOST being "." or this machine.
TObjectRef ParseObjectPath(std::string_view path, std::string_view hostName) {
    if (!path.starts_with("\\\\"))
        InvalidQuery("object path without a host");
    path.remove_prefix(2);
    const auto slash = path.find('\\');
    if (slash == std::string_view::npos)
        InvalidQuery("object path without a namespace");
    const auto host = path.substr(0, slash);
    if (host != "." && !IEquals(host, hostName))
        InvalidQuery("object path of another machine");
    path.remove_prefix(slash + 1);
    const auto colon = path.find(':');
    if (colon == std::string_view::npos || !IEquals(path.substr(0, colon), "root\\cimv2"))
        InvalidQuery("object path of another namespace");
    path.remove_prefix(colon + 1);
    const auto dot = path.find('.');
    const auto eq = path.find('=');
    if (dot == std::string_view::npos || eq == std::string_view::npos || eq < dot)
        InvalidQuery("object path without a key");
    TObjectRef ref;
    ref.ClassName = std::string(path.substr(0, dot));
    ref.Key = std::string(path.substr(dot + 1, eq - dot - 1));
    path.remove_prefix(eq + 1);
    if (path.size() < 2 || path.front() != '"' || path.back() != '"')
        InvalidQuery("object path key not quoted");
    path = path.substr(1, path.size() - 2);
    for (std::size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == '"')
            InvalidQuery("quote inside an object path key");
        if (c == '\\') {
            if (i + 1 >= path.size() || (path[i + 1] != '\\' && path[i + 1] != '"'))
                InvalidQuery("unknown escape in an object path");
            c = path[++i];
        }
        ref.Value += c;
    }
    return ref;
}

} // namespace platform::lnx
