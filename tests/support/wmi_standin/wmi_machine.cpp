#include "wmi_machine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <memory>
#include <sstream>
#include <utility>

namespace wmistandin {
namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string Lowered(std::string s) {
    for (char& c : s)
        c = Lower(c);
    return s;
}

bool ParseUnsigned(const std::string& text, std::uint64_t& n) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, n);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

[[noreturn]] void BadQuery(const std::string& why) {
    throw EWmiError(wbemErrInvalidQuery, "Invalid query: " + why);
}

// ---- WQL tokens ---------------------------------------------------------------------------------

struct TToken {
    enum EKind { End, Word, String, Number, Symbol } Kind = End;
    std::string Text; // a word or symbol as written, a string unescaped, a number's digits
};

std::vector<TToken> Tokens(const std::string& wql) {
    std::vector<TToken> out;
    std::size_t i = 0;
    while (i < wql.size()) {
        const char c = wql[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            while (j < wql.size() && wql[j] != c)
                j += wql[j] == '\\' ? 2 : 1;
            if (j >= wql.size())
                BadQuery("unterminated string");
            out.push_back({TToken::String, UnescapeWqlString(wql.substr(i, j + 1 - i))});
            i = j + 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '-' && i + 1 < wql.size() &&
                    std::isdigit(static_cast<unsigned char>(wql[i + 1])))) {
            std::size_t j = i + 1;
            while (j < wql.size() && std::isdigit(static_cast<unsigned char>(wql[j])))
                ++j;
            out.push_back({TToken::Number, wql.substr(i, j - i)});
            i = j;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t j = i;
            while (j < wql.size() &&
                   (std::isalnum(static_cast<unsigned char>(wql[j])) || wql[j] == '_'))
                ++j;
            out.push_back({TToken::Word, wql.substr(i, j - i)});
            i = j;
        } else {
            static const char* const symbols[] = {"<>", "!=", "<=", ">=", "=", "<",
                                                  ">",  "*",  ",",  "(",  ")"};
            const char* found = nullptr;
            for (const char* s : symbols)
                if (wql.compare(i, std::char_traits<char>::length(s), s) == 0) {
                    found = s;
                    break;
                }
            if (!found)
                BadQuery(std::string("unexpected character ") + c);
            out.push_back({TToken::Symbol, found});
            i += std::char_traits<char>::length(found);
        }
    }
    out.push_back({});
    return out;
}

// ---- WHERE conditions ---------------------------------------------------------------------------

// One node of a WHERE clause: a comparison of a property with a constant, IS [NOT] NULL, or
// AND, OR, NOT over other nodes.
struct TCondition {
    enum EKind { Compare, IsNull, And, Or, Not } Kind = Compare;
    std::string Property, Op;
    TToken Constant;
    std::unique_ptr<TCondition> Left, Right;
};

class TParser {
public:
    explicit TParser(const std::string& wql) : FTokens(Tokens(wql)) {}

    const TToken& Peek() const { return FTokens[FPos]; }
    TToken Take() { return FTokens[FPos].Kind == TToken::End ? FTokens[FPos] : FTokens[FPos++]; }
    bool TakeWord(const char* word) {
        if (Peek().Kind == TToken::Word && SameText(Peek().Text, word)) {
            ++FPos;
            return true;
        }
        return false;
    }
    bool TakeSymbol(const char* symbol) {
        if (Peek().Kind == TToken::Symbol && Peek().Text == symbol) {
            ++FPos;
            return true;
        }
        return false;
    }
    std::string Name() {
        if (Peek().Kind != TToken::Word)
            BadQuery("a name expected");
        return Take().Text;
    }

    std::unique_ptr<TCondition> Condition() {
        auto left = Conjunction();
        while (TakeWord("OR"))
            left = Join(TCondition::Or, std::move(left), Conjunction());
        return left;
    }

private:
    static std::unique_ptr<TCondition> Join(TCondition::EKind kind, std::unique_ptr<TCondition> l,
                                            std::unique_ptr<TCondition> r) {
        auto node = std::make_unique<TCondition>();
        node->Kind = kind;
        node->Left = std::move(l);
        node->Right = std::move(r);
        return node;
    }

    std::unique_ptr<TCondition> Conjunction() {
        auto left = Factor();
        while (TakeWord("AND"))
            left = Join(TCondition::And, std::move(left), Factor());
        return left;
    }

    static bool IsConstant(const TToken& t) {
        return t.Kind == TToken::String || t.Kind == TToken::Number ||
               (t.Kind == TToken::Word && (SameText(t.Text, "TRUE") || SameText(t.Text, "FALSE") ||
                                           SameText(t.Text, "NULL")));
    }

    // "property operator constant" or "constant operator property", as the page allows.
    std::unique_ptr<TCondition> Factor() {
        if (TakeWord("NOT"))
            return Join(TCondition::Not, Factor(), nullptr);
        if (TakeSymbol("(")) {
            auto inner = Condition();
            if (!TakeSymbol(")"))
                BadQuery(") expected");
            return inner;
        }
        auto node = std::make_unique<TCondition>();
        if (IsConstant(Peek())) {
            node->Constant = Take();
            node->Op = Operator(true);
            node->Property = Name();
            return node;
        }
        node->Property = Name();
        if (TakeWord("IS")) {
            node->Kind = TCondition::IsNull;
            node->Op = TakeWord("NOT") ? "<>" : "=";
            if (!TakeWord("NULL"))
                BadQuery("NULL expected after IS");
            return node;
        }
        node->Op = Operator(false);
        if (!IsConstant(Peek()))
            BadQuery("a constant expected after " + node->Op);
        node->Constant = Take();
        return node;
    }

    // The operator, turned around when the constant stands on its left.
    std::string Operator(bool constantFirst) {
        if (Peek().Kind != TToken::Symbol)
            BadQuery("an operator expected");
        std::string op = Take().Text;
        if (op == "!=")
            op = "<>";
        if (op != "=" && op != "<>" && op != "<" && op != ">" && op != "<=" && op != ">=")
            BadQuery("no operator " + op);
        if (constantFirst && op.size() <= 2 && op != "=" && op != "<>")
            op = op[0] == '<' ? ">" + op.substr(1) : "<" + op.substr(1);
        return op;
    }

    std::vector<TToken> FTokens;
    std::size_t FPos = 0;
};

bool Ordered(int cmp, const std::string& op) {
    if (op == "=")
        return cmp == 0;
    if (op == "<>")
        return cmp != 0;
    if (op == "<")
        return cmp < 0;
    if (op == ">")
        return cmp > 0;
    if (op == "<=")
        return cmp <= 0;
    return cmp >= 0;
}

// A comparison of one property with its constant. The constant must have the property's type;
// comparisons are case-insensitive ("WHERE Clause (WMI)"); a reference compares as an object
// path ("WMI Object Path Requirements"); a null value matches only IS NULL.
bool Matches(const TProperty& prop, const TCondition& c, const std::string& host) {
    const bool isNull = std::holds_alternative<std::monostate>(prop.Value);
    if (c.Kind == TCondition::IsNull)
        return isNull == (c.Op == "=");
    const TToken& k = c.Constant;
    if (k.Kind == TToken::Word && SameText(k.Text, "NULL"))
        return c.Op == "=" ? isNull : !isNull;
    const bool isBool = k.Kind == TToken::Word;
    switch (prop.Type) {
    case wbemCimtypeReference:
    case wbemCimtypeString:
        if (k.Kind != TToken::String)
            BadQuery(prop.Name + " compared with a constant that is no string");
        if (isNull)
            return false;
        if (prop.Type == wbemCimtypeReference) {
            if (c.Op != "=" && c.Op != "<>")
                BadQuery("a reference compared with " + c.Op);
            return SameObjectPath(std::get<std::string>(prop.Value), k.Text, host) == (c.Op == "=");
        }
        return Ordered(Lowered(std::get<std::string>(prop.Value)).compare(Lowered(k.Text)), c.Op);
    case wbemCimtypeBoolean: {
        bool wanted = false;
        if (isBool)
            wanted = SameText(k.Text, "TRUE");
        else if (k.Kind == TToken::Number && (k.Text == "0" || k.Text == "1"))
            wanted = k.Text == "1";
        else
            BadQuery(prop.Name + " compared with a constant that is no Boolean");
        if (c.Op != "=" && c.Op != "<>")
            BadQuery("a Boolean compared with " + c.Op);
        return !isNull && (std::get<bool>(prop.Value) == wanted) == (c.Op == "=");
    }
    case wbemCimtypeUint32:
    case wbemCimtypeUint64: {
        if (k.Kind != TToken::Number)
            BadQuery(prop.Name + " compared with a constant that is no number");
        if (isNull)
            return false;
        std::uint64_t have = 0, wanted = 0;
        if (prop.Type == wbemCimtypeUint32)
            have = std::get<std::uint64_t>(prop.Value);
        else
            ParseUnsigned(std::get<std::string>(prop.Value), have);
        if (k.Text[0] == '-')
            return Ordered(1, c.Op);
        if (!ParseUnsigned(k.Text, wanted))
            BadQuery("number out of range: " + k.Text);
        return Ordered(have < wanted ? -1 : have > wanted ? 1 : 0, c.Op);
    }
    }
    return false;
}

bool Holds(const TInstance& object, const TCondition& c, const std::string& host) {
    switch (c.Kind) {
    case TCondition::And:
        return Holds(object, *c.Left, host) && Holds(object, *c.Right, host);
    case TCondition::Or:
        return Holds(object, *c.Left, host) || Holds(object, *c.Right, host);
    case TCondition::Not:
        return !Holds(object, *c.Left, host);
    default:
        return Matches(*object.Find(c.Property), c, host);
    }
}

// Every property a condition names must be one of the class's.
void CheckNames(const TCondition& c, const TInstance& schema) {
    if (c.Left)
        CheckNames(*c.Left, schema);
    if (c.Right)
        CheckNames(*c.Right, schema);
    if ((c.Kind == TCondition::Compare || c.Kind == TCondition::IsNull) && !schema.Find(c.Property))
        BadQuery("no property " + c.Property + " in " + schema.ClassName);
}

// ---- object path pieces -------------------------------------------------------------------------

[[noreturn]] void BadPath(const std::string& text) {
    throw EWmiError(wbemErrInvalidQuery, "Not an object path: " + text);
}

// A quoted key value from `pos` (on the opening quote); `pos` ends after the closing one.
std::string QuotedValue(const std::string& text, std::size_t& pos) {
    const char quote = text[pos];
    std::string value;
    for (++pos; pos < text.size() && text[pos] != quote; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size())
            ++pos;
        value += text[pos];
    }
    if (pos >= text.size())
        BadPath(text);
    ++pos;
    return value;
}

bool IsLocal(const std::string& server, const std::string& host) {
    return server.empty() || server == "." || SameText(server, host);
}

std::string Text(std::uint64_t n) {
    return std::to_string(n);
}

} // namespace

// ---- object paths -------------------------------------------------------------------------------

TObjectPath ParseObjectPath(const std::string& text) {
    TObjectPath path;
    std::string rest = text;
    const auto colon = rest.find(':');
    const auto quote = rest.find_first_of("\"'");
    if (colon != std::string::npos && (quote == std::string::npos || colon < quote)) {
        std::string prefix = rest.substr(0, colon);
        std::replace(prefix.begin(), prefix.end(), '/', '\\');
        rest = rest.substr(colon + 1);
        if (prefix.rfind("\\\\", 0) == 0) {
            const auto end = prefix.find('\\', 2);
            if (end == std::string::npos)
                BadPath(text);
            path.Server = prefix.substr(2, end - 2);
            path.Namespace = prefix.substr(end + 1);
        } else {
            path.Namespace = prefix;
        }
        if (path.Namespace.empty())
            BadPath(text);
    }
    std::size_t pos = 0;
    while (pos < rest.size() &&
           (std::isalnum(static_cast<unsigned char>(rest[pos])) || rest[pos] == '_'))
        ++pos;
    path.ClassName = rest.substr(0, pos);
    if (path.ClassName.empty())
        BadPath(text);
    if (pos == rest.size())
        return path;
    if (rest.compare(pos, 2, "=@") == 0 && pos + 2 == rest.size()) { // a singleton
        path.Keys.emplace_back("", "@");
        return path;
    }
    const bool named = rest[pos] == '.';
    if (!named && rest[pos] != '=')
        BadPath(text);
    ++pos;
    for (;;) {
        std::string name;
        if (named) {
            const auto eq = rest.find('=', pos);
            if (eq == std::string::npos || eq == pos)
                BadPath(text);
            name = rest.substr(pos, eq - pos);
            pos = eq + 1;
        }
        std::string value;
        if (pos < rest.size() && (rest[pos] == '"' || rest[pos] == '\'')) {
            value = QuotedValue(rest, pos);
        } else {
            const auto end = std::min(rest.find(',', pos), rest.size());
            value = rest.substr(pos, end - pos);
            std::uint64_t n = 0;
            if (!ParseUnsigned(value, n) && !SameText(value, "TRUE") && !SameText(value, "FALSE"))
                BadPath(text);
            pos = end;
        }
        path.Keys.emplace_back(name, value);
        if (pos == rest.size())
            return path;
        if (!named || rest[pos] != ',')
            BadPath(text);
        ++pos;
    }
}

bool SameObjectPath(const std::string& a, const std::string& b, const std::string& host) {
    TObjectPath x, y;
    try {
        x = ParseObjectPath(a);
        y = ParseObjectPath(b);
    } catch (const EWmiError&) {
        return false;
    }
    const bool localX = IsLocal(x.Server, host), localY = IsLocal(y.Server, host);
    if (localX != localY || (!localX && !SameText(x.Server, y.Server)))
        return false;
    const std::string nsX = x.Namespace.empty() ? "root\\cimv2" : x.Namespace;
    const std::string nsY = y.Namespace.empty() ? "root\\cimv2" : y.Namespace;
    if (!SameText(nsX, nsY) || !SameText(x.ClassName, y.ClassName) ||
        x.Keys.size() != y.Keys.size())
        return false;
    for (const auto& [name, value] : x.Keys) {
        const auto other = std::find_if(y.Keys.begin(), y.Keys.end(), [&](const auto& key) {
            return SameText(key.first, name) ||
                   (x.Keys.size() == 1 && (name.empty() || key.first.empty()));
        });
        if (other == y.Keys.end() || !SameText(other->second, value))
            return false;
    }
    return true;
}

std::string QuotedKey(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string UnescapeWqlString(const std::string& literal) {
    if (literal.size() < 2 || (literal[0] != '\'' && literal[0] != '"') ||
        literal.back() != literal[0])
        BadQuery("not a string literal: " + literal);
    std::string out;
    for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
        if (literal[i] == '\\') {
            if (i + 2 >= literal.size())
                BadQuery("unterminated string: " + literal);
            ++i;
        }
        out += literal[i];
    }
    return out;
}

// ---- instances ----------------------------------------------------------------------------------

const TProperty* TInstance::Find(const std::string& name) const {
    for (const TProperty& p : Properties)
        if (SameText(p.Name, name))
            return &p;
    return nullptr;
}

TInstance TMachine::Make(const std::string& className, std::vector<TProperty> props,
                         std::vector<std::string> keys) const {
    TInstance object{className, std::move(props), std::move(keys), className, ""};
    char separator = '.';
    for (const std::string& key : object.Keys) {
        object.RelPath +=
            separator + key + "=" + QuotedKey(std::get<std::string>(object.Find(key)->Value));
        separator = ',';
    }
    object.Path = "\\\\" + FHost + "\\root\\cimv2:" + object.RelPath;
    return object;
}

const TMachine::TDisk* TMachine::DiskOf(unsigned index) const {
    for (const TDisk& d : FDisks)
        if (d.Index == index)
            return &d;
    return nullptr;
}

const TMachine::TPartition* TMachine::PartitionOf(unsigned disk, unsigned index) const {
    for (const TPartition& p : FPartitions)
        if (p.Disk == disk && p.Index == index)
            return &p;
    return nullptr;
}

TMachine TMachine::Read(std::istream& in, const std::string& host) {
    TMachine m;
    m.FHost = host;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string kind;
        if (!(fields >> kind) || kind[0] == '#')
            continue;
        auto rest = [&fields] {
            std::string text;
            std::getline(fields >> std::ws, text);
            return text;
        };
        auto letter = [](const std::string& drive) {
            return drive.size() == 2 && drive[1] == ':' &&
                           std::isalpha(static_cast<unsigned char>(drive[0]))
                       ? static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])))
                       : '\0';
        };
        bool ok = false;
        if (kind == "disk") {
            TDisk d{};
            ok = static_cast<bool>(fields >> d.Index >> d.Size >> d.Pnp);
            d.Model = rest();
            ok = ok && !m.DiskOf(d.Index);
            if (ok)
                m.FDisks.push_back(d);
        } else if (kind == "partition") {
            TPartition p{};
            ok = fields >> p.Disk >> p.Index >> p.Size && m.DiskOf(p.Disk) &&
                 !m.PartitionOf(p.Disk, p.Index);
            if (ok)
                m.FPartitions.push_back(p);
        } else if (kind == "volume") {
            TVolume v{};
            std::string drive;
            ok = fields >> drive >> v.Disk >> v.Partition >> v.FileSystem &&
                 (v.Letter = letter(drive)) && m.PartitionOf(v.Disk, v.Partition);
            v.Label = rest();
            if (ok)
                m.FVolumes.push_back(v);
        } else if (kind == "cdrom") {
            TCdrom c{};
            std::string drive;
            ok = fields >> drive >> c.Pnp && (c.Letter = letter(drive));
            c.Name = rest();
            if (ok)
                m.FCdroms.push_back(c);
        }
        if (!ok)
            throw EWmiError(wbemErrFailed,
                            "machine file, line " + std::to_string(number) + ": " + line);
    }
    return m;
}

// The classes and their properties as the Win32_DiskDrive, Win32_DiskPartition,
// Win32_LogicalDisk, Win32_CDROMDrive, Win32_DiskDriveToDiskPartition and
// Win32_LogicalDiskToPartition class pages give them: a subset of each, in the CIM types of the
// pages, keyed by the properties the pages mark as keys. Disks are \\.\PHYSICALDRIVE<index>,
// partitions "Disk #<disk>, Partition #<index>", logical disks "<letter>:".
std::vector<TInstance> TMachine::Instances(const std::string& className) const {
    std::vector<TInstance> out;
    const auto str = [](std::string name, std::string value) {
        return TProperty{std::move(name), wbemCimtypeString, std::move(value)};
    };
    const auto u32 = [](std::string name, std::uint64_t value) {
        return TProperty{std::move(name), wbemCimtypeUint32, value};
    };
    const auto u64 = [](std::string name, std::uint64_t value) {
        return TProperty{std::move(name), wbemCimtypeUint64, Text(value)};
    };
    const auto ref = [](std::string name, std::string path) {
        return TProperty{std::move(name), wbemCimtypeReference, std::move(path)};
    };
    const auto diskId = [](unsigned index) { return "\\\\.\\PHYSICALDRIVE" + Text(index); };
    const auto partId = [](unsigned disk, unsigned index) {
        return "Disk #" + Text(disk) + ", Partition #" + Text(index);
    };
    const auto usb = [](const TDisk& d) { return d.Pnp.rfind("USBSTOR\\", 0) == 0; };
    // Partitions lie one after the other from the first MiB of the disk.
    const auto offset = [this](const TPartition& p) {
        std::uint64_t at = 1048576;
        for (const TPartition& q : FPartitions)
            if (q.Disk == p.Disk && q.Index < p.Index)
                at += q.Size;
        return at;
    };
    const auto path = [this](const char* cls, const std::string& id) {
        return "\\\\" + FHost + "\\root\\cimv2:" + cls + ".DeviceID=" + QuotedKey(id);
    };

    if (SameText(className, "Win32_DiskDrive")) {
        for (const TDisk& d : FDisks) {
            unsigned parts = 0;
            for (const TPartition& p : FPartitions)
                parts += p.Disk == d.Index;
            const std::string iface = usb(d)                          ? "USB"
                                      : d.Pnp.rfind("SCSI\\", 0) == 0 ? "SCSI"
                                                                      : "IDE";
            out.push_back(
                Make("Win32_DiskDrive",
                     {str("Caption", d.Model), str("DeviceID", diskId(d.Index)),
                      u32("Index", d.Index), str("InterfaceType", iface),
                      str("MediaType", usb(d) ? "Removable Media" : "Fixed hard disk media"),
                      str("Model", d.Model), str("Name", diskId(d.Index)), u32("Partitions", parts),
                      str("PNPDeviceID", d.Pnp), u64("Size", d.Size)},
                     {"DeviceID"}));
        }
    } else if (SameText(className, "Win32_DiskPartition")) {
        for (const TPartition& p : FPartitions) {
            const std::string id = partId(p.Disk, p.Index);
            out.push_back(
                Make("Win32_DiskPartition",
                     {TProperty{"Bootable", wbemCimtypeBoolean, false},
                      TProperty{"BootPartition", wbemCimtypeBoolean, false}, str("Caption", id),
                      str("DeviceID", id), u32("DiskIndex", p.Disk), u32("Index", p.Index),
                      str("Name", id), TProperty{"PrimaryPartition", wbemCimtypeBoolean, true},
                      u64("Size", p.Size), u64("StartingOffset", offset(p)),
                      str("Type", "Installable File System")},
                     {"DeviceID"}));
        }
    } else if (SameText(className, "Win32_LogicalDisk")) {
        for (const TVolume& v : FVolumes) {
            const std::string id{v.Letter, ':'};
            out.push_back(Make("Win32_LogicalDisk",
                               {str("Caption", id), str("DeviceID", id),
                                u32("DriveType", usb(*DiskOf(v.Disk)) ? 2 : 3),
                                str("FileSystem", v.FileSystem), str("Name", id),
                                u64("Size", PartitionOf(v.Disk, v.Partition)->Size),
                                str("VolumeName", v.Label)},
                               {"DeviceID"}));
        }
        for (const TCdrom& c : FCdroms) {
            const std::string id{c.Letter, ':'};
            out.push_back(Make("Win32_LogicalDisk",
                               {str("Caption", id), str("DeviceID", id), u32("DriveType", 5),
                                TProperty{"FileSystem", wbemCimtypeString, {}}, str("Name", id),
                                TProperty{"Size", wbemCimtypeUint64, {}},
                                TProperty{"VolumeName", wbemCimtypeString, {}}},
                               {"DeviceID"}));
        }
    } else if (SameText(className, "Win32_CDROMDrive")) {
        for (const TCdrom& c : FCdroms) {
            const std::string drive{c.Letter, ':'};
            out.push_back(Make("Win32_CDROMDrive",
                               {str("Caption", c.Name), str("DeviceID", c.Pnp), str("Drive", drive),
                                str("Id", drive), str("MediaType", "CD-ROM"), str("Name", c.Name),
                                str("PNPDeviceID", c.Pnp)},
                               {"DeviceID"}));
        }
    } else if (SameText(className, "Win32_DiskDriveToDiskPartition")) {
        for (const TPartition& p : FPartitions)
            out.push_back(
                Make("Win32_DiskDriveToDiskPartition",
                     {ref("Antecedent", path("Win32_DiskDrive", diskId(p.Disk))),
                      ref("Dependent", path("Win32_DiskPartition", partId(p.Disk, p.Index)))},
                     {"Antecedent", "Dependent"}));
    } else if (SameText(className, "Win32_LogicalDiskToPartition")) {
        for (const TVolume& v : FVolumes) {
            const TPartition& p = *PartitionOf(v.Disk, v.Partition);
            out.push_back(Make(
                "Win32_LogicalDiskToPartition",
                {ref("Antecedent", path("Win32_DiskPartition", partId(p.Disk, p.Index))),
                 ref("Dependent", path("Win32_LogicalDisk", std::string{v.Letter, ':'})),
                 u64("EndingAddress", offset(p) + p.Size - 1), u64("StartingAddress", offset(p))},
                {"Antecedent", "Dependent"}));
        }
    } else {
        throw EWmiError(wbemErrInvalidClass, "Invalid class: " + className);
    }
    return out;
}

// "SELECT Statement for Data Queries": SELECT * or a list of properties, FROM one class, an
// optional WHERE clause.
std::vector<TInstance> TMachine::ExecQuery(const std::string& wql) const {
    TParser parser(wql);
    if (!parser.TakeWord("SELECT"))
        BadQuery("SELECT expected");
    std::vector<std::string> selected;
    if (!parser.TakeSymbol("*")) {
        do
            selected.push_back(parser.Name());
        while (parser.TakeSymbol(","));
    }
    if (!parser.TakeWord("FROM"))
        BadQuery("FROM expected");
    const std::string className = parser.Name();
    std::unique_ptr<TCondition> where;
    if (parser.TakeWord("WHERE"))
        where = parser.Condition();
    if (parser.Peek().Kind != TToken::End)
        BadQuery("unexpected " + parser.Peek().Text);

    std::vector<TInstance> all = Instances(className);
    // The class's properties, from an empty machine's point of view: one object of each kind.
    TMachine sample;
    sample.FHost = FHost;
    sample.FDisks = {{0, 0, "USBSTOR\\X", ""}};
    sample.FPartitions = {{0, 0, 0}};
    sample.FVolumes = {{'C', 0, 0, "", ""}};
    sample.FCdroms = {{'D', "", ""}};
    const TInstance schema = sample.Instances(className).front();
    for (const std::string& name : selected)
        if (!schema.Find(name))
            BadQuery("no property " + name + " in " + schema.ClassName);
    if (where)
        CheckNames(*where, schema);

    std::vector<TInstance> out;
    for (TInstance& object : all) {
        if (where && !Holds(object, *where, FHost))
            continue;
        if (!selected.empty()) {
            std::vector<TProperty> kept;
            for (const TProperty& p : object.Properties)
                if (std::any_of(selected.begin(), selected.end(),
                                [&](const std::string& s) { return SameText(s, p.Name); }))
                    kept.push_back(p);
            object.Properties = std::move(kept);
        }
        out.push_back(std::move(object));
    }
    return out;
}

} // namespace wmistandin
