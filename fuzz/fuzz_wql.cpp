// The Linux provider's WQL and object-path parsing: any text is either a query (or path) or
// the provider's "invalid query" error, never anything else; what parses, written out again,
// parses to the same; and the doubly escaped key of identification's queries comes back whole.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "mod_WbemScripting_TLB.h"
#include "platform/linux/wql.h"

using namespace platform::lnx;

namespace {

// A WQL string literal of `value`.
std::string Quoted(const std::string& value, char quote) {
    std::string out(1, quote);
    for (const char c : value) {
        if (c == '\\' || c == quote)
            out += '\\';
        out += c;
    }
    return out + quote;
}

// A query written out again from what was parsed.
std::string Written(const TWqlQuery& q) {
    std::string text = "SELECT ";
    for (std::size_t i = 0; i < q.Select.size(); ++i)
        text += (i ? ", " : "") + q.Select[i];
    if (q.Select.empty())
        text += "*";
    text += " FROM " + q.ClassName;
    if (q.HasWhere)
        text += " WHERE " + q.WhereProperty + " = " + Quoted(q.WhereValue, '\'');
    return text;
}

bool Same(const TWqlQuery& a, const TWqlQuery& b) {
    return a.ClassName == b.ClassName && a.Select == b.Select && a.HasWhere == b.HasWhere &&
           a.WhereProperty == b.WhereProperty && a.WhereValue == b.WhereValue;
}

// A name of WQL's identifier characters, not empty.
std::string Name(FuzzedDataProvider& in) {
    static const char Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
    std::string s;
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(1, 24);
    for (std::size_t i = 0; i < n; ++i)
        s += Chars[in.ConsumeIntegralInRange<std::size_t>(0, sizeof Chars - 2)];
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const TWqlQuery q = ParseWql(text);
        FUZZ_CHECK(!q.ClassName.empty());
        FUZZ_CHECK(Same(ParseWql(Written(q)), q));
    } catch (const EWbemError& e) {
        FUZZ_CHECK(e.Code() == wbemErrInvalidQuery);
    }
    try {
        const TObjectRef r = ParseObjectPath(text, "host");
        const std::string again = "\\\\.\\root\\cimv2:" + r.ClassName + "." + r.Key + "=\"" +
                                  EscapePathValue(r.Value) + "\"";
        const TObjectRef s = ParseObjectPath(again, "host");
        FUZZ_CHECK(s.ClassName == r.ClassName && s.Key == r.Key && s.Value == r.Value);
    } catch (const EWbemError& e) {
        FUZZ_CHECK(e.Code() == wbemErrInvalidQuery);
    }

    // SELECT * FROM  <class> WHERE <property>='\\.\root\cimv2:<class>.<key>="<value>"', the
    // value escaped for the object path and the path again for the WQL string.
    FuzzedDataProvider in(data, size);
    const std::string cls = Name(in), prop = Name(in), pathClass = Name(in), key = Name(in);
    const std::string value = in.ConsumeRandomLengthString(128);
    const char quote = in.ConsumeBool() ? '\'' : '"';
    const std::string path = std::string(in.ConsumeBool() ? "\\\\." : "\\\\HOST") +
                             "\\root\\cimv2:" + pathClass + "." + key + "=\"" +
                             EscapePathValue(value) + "\"";
    const TWqlQuery q =
        ParseWql("SELECT * FROM  " + cls + " WHERE " + prop + "=" + Quoted(path, quote));
    FUZZ_CHECK(q.ClassName == cls && q.Select.empty() && q.HasWhere);
    FUZZ_CHECK(q.WhereProperty == prop && q.WhereValue == path);
    const TObjectRef r = ParseObjectPath(q.WhereValue, "host");
    FUZZ_CHECK(r.ClassName == pathClass && r.Key == key && r.Value == value);
    return 0;
}
