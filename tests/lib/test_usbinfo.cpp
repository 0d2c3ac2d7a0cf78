// The key identification on a fake WMI: the query texts, the cuts and fall-backs, the
// rendering of property values and the failure paths.

#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "mod_DriveUsbInfo.h"
#include "mod_WbemScripting_TLB.h"
#include "platform/wmi.h"

namespace {

struct FakeProp {
    std::string Name;
    int Type;
    TWbemVariant Value;
};
using FakeObject = std::vector<FakeProp>;

// What a fake query answers: objects, or an error thrown at a chosen step.
struct Answer {
    std::vector<FakeObject> Objects;
    int Count = -1; // -1: the number of objects
    enum class Fail { None, Query, Item } Throw = Fail::None;
};

struct FakeWmi {
    std::vector<std::string> Queries;
    std::vector<std::string> Connections; // server|namespace|user
    std::vector<std::string> Languages;
    std::vector<int> Flags;
    std::function<Answer(const std::string&)> Respond;
    bool FailCreate = false;
    bool FailConnect = false;
    int LiveLocators = 0;
    int CreatedLocators = 0;
};

class Prop : public ISWbemProperty {
public:
    explicit Prop(FakeProp p) : P(std::move(p)) {}
    std::string Name() const override { return P.Name; }
    int CIMType() const override { return P.Type; }
    TWbemVariant Value() const override { return P.Value; }
    FakeProp P;
};

class Props : public ISWbemPropertySet {
public:
    Props(FakeObject o, bool fail) : O(std::move(o)), Fail(fail) {}
    std::shared_ptr<ISWbemProperty> Item(const std::string& name, int) override {
        if (Fail)
            throw EWbemError(wbemErrNotFound, "not found");
        for (const auto& p : O) // like WMI: names compared without case
            if (strcasecmp(p.Name.c_str(), name.c_str()) == 0)
                return std::make_shared<Prop>(p);
        throw EWbemError(wbemErrNotFound, "not found");
    }
    int Count() override { return static_cast<int>(O.size()); }
    FakeObject O;
    bool Fail;
};

class Obj : public ISWbemObject {
public:
    Obj(FakeObject o, bool fail) : O(std::move(o)), Fail(fail) {}
    std::shared_ptr<ISWbemPropertySet> Properties_() override {
        return std::make_shared<Props>(O, Fail);
    }
    FakeObject O;
    bool Fail;
};

class Enum : public IEnumWbemObject {
public:
    explicit Enum(Answer a) : A(std::move(a)) {}
    std::shared_ptr<ISWbemObject> Next() override {
        if (I >= A.Objects.size())
            return nullptr;
        return std::make_shared<Obj>(A.Objects[I++], A.Throw == Answer::Fail::Item);
    }
    Answer A;
    std::size_t I = 0;
};

class Set : public ISWbemObjectSet {
public:
    explicit Set(Answer a) : A(std::move(a)) {}
    int Count() override { return A.Count >= 0 ? A.Count : static_cast<int>(A.Objects.size()); }
    std::unique_ptr<IEnumWbemObject> NewEnum() override { return std::make_unique<Enum>(A); }
    Answer A;
};

class Services : public ISWbemServices {
public:
    explicit Services(FakeWmi& w) : W(w) {}
    std::shared_ptr<ISWbemObjectSet> ExecQuery(const std::string& q, const std::string& lang,
                                               int flags, ISWbemNamedValueSet*) override {
        W.Queries.push_back(q);
        W.Languages.push_back(lang);
        W.Flags.push_back(flags);
        Answer a = W.Respond ? W.Respond(q) : Answer{};
        if (a.Throw == Answer::Fail::Query)
            throw EWbemError(wbemErrInvalidQuery, "bad query");
        return std::make_shared<Set>(std::move(a));
    }
    FakeWmi& W;
};

class Locator : public ISWbemLocator {
public:
    explicit Locator(FakeWmi& w) : W(w) {
        ++W.LiveLocators;
        ++W.CreatedLocators;
    }
    ~Locator() override { --W.LiveLocators; }
    std::shared_ptr<ISWbemServices> ConnectServer(const std::string& server, const std::string& ns,
                                                  const std::string& user, const std::string&,
                                                  const std::string&, const std::string&, int,
                                                  ISWbemNamedValueSet*) override {
        W.Connections.push_back(server + "|" + ns + "|" + user);
        if (W.FailConnect)
            throw EWbemError(wbemErrFailed, "connection refused");
        return std::make_shared<Services>(W);
    }
    FakeWmi& W;
};

class FakeWmiTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = platform::SetWbemLocatorFactory([this]() -> std::shared_ptr<ISWbemLocator> {
            if (W.FailCreate)
                throw EWbemError(wbemErrFailed, "no locator");
            return std::make_shared<Locator>(W);
        });
    }
    void TearDown() override { platform::SetWbemLocatorFactory(std::move(Previous)); }

    static FakeObject One(const std::string& name, TWbemVariant v,
                          int type = wbemCimtypeReference) {
        return {{name, type, std::move(v)}};
    }
    static TWbemVariant S(const std::string& s) { return TWbemVariant(TWbemScalar(s)); }

    // A machine whose drive E is on disk 1, partition 0, with the given identifier.
    void ChainFor(TWbemVariant pnpId) {
        W.Respond = [pnpId](const std::string& q) {
            Answer a;
            if (q.find("Win32_LogicalDiskToPartition") != std::string::npos)
                a.Objects = {One(
                    "Antecedent",
                    S(R"(\\HOST\root\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #0")"))};
            else if (q.find("Win32_DiskDriveToDiskPartition") != std::string::npos)
                a.Objects = {One(
                    "Antecedent",
                    S(R"(\\HOST\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE1")"))};
            else if (q.find("Win32_DiskDrive") != std::string::npos)
                a.Objects = {One("PNPDeviceID", pnpId, wbemCimtypeString)};
            return a;
        };
    }

    FakeWmi W;
    platform::WbemLocatorFactory Previous;
};

TEST_F(FakeWmiTest, SendsTheThreeQueriesToTheCharacter) {
    ChainFor(S(R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\0123456789AB&0)"));
    std::string v, p, s;
    ASSERT_TRUE(GetDriveUsbInfo("E", v, p, s));
    ASSERT_EQ(W.Queries.size(), 3u);
    EXPECT_EQ(
        W.Queries[0],
        R"(SELECT * FROM  Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID="E:"')");
    EXPECT_EQ(
        W.Queries[1],
        R"(SELECT * FROM  Win32_DiskDriveToDiskPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #0"')");
    EXPECT_EQ(W.Queries[2],
              R"(SELECT * FROM  Win32_DiskDrive WHERE DeviceID="\\\\.\\PHYSICALDRIVE1")");
    // Every query makes its own connection to the local namespace, in WQL, returning at once.
    EXPECT_EQ(W.CreatedLocators, 3);
    EXPECT_EQ(W.LiveLocators, 0);
    EXPECT_EQ(W.Connections, std::vector<std::string>(3, "|root\\CIMV2|"));
    EXPECT_EQ(W.Languages, std::vector<std::string>(3, "WQL"));
    EXPECT_EQ(W.Flags, std::vector<int>(3, 16));
}

struct Row {
    const char* Id;
    const char* Vendor;
    const char* Product;
    const char* Serial;
};

// A row as the test's name shows it (and not as the bytes of its pointers): its device id.
void PrintTo(const Row& r, std::ostream* os) {
    *os << r.Id;
}

class WorkedExamples : public FakeWmiTest, public ::testing::WithParamInterface<Row> {};

TEST_P(WorkedExamples, CutsVendorProductAndSerial) {
    const Row r = GetParam();
    ChainFor(S(r.Id));
    std::string v = "old", p = "old", s = "old";
    ASSERT_TRUE(GetDriveUsbInfo("E", v, p, s));
    EXPECT_EQ(v, r.Vendor);
    EXPECT_EQ(p, r.Product);
    EXPECT_EQ(s, r.Serial);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, WorkedExamples,
    ::testing::Values(Row{R"(USBSTOR\DISK&VEN_ACME&PROD_FLASH_DRIVE&REV_1.00\0123456789AB&0)",
                          "ACME", "FLASH_DRIVE", "0123456789AB"},
                      Row{R"(USBSTOR\DISK&VEN__ACME&PROD__STICK&REV_1.00\0123456789AB&0)", "ACME",
                          "STICK", "0123456789AB"},
                      Row{R"(USBSTOR\DISK&VEN_ACME&PROD_STICK&REV_1.00\0123456789AB)", "ACME",
                          "STICK", "0123456789AB"},
                      Row{R"(USBSTOR\DISK&VEN_ACME&PROD_STICK&REV_1.00\0123456789AB&1)", "ACME",
                          "STICK", "0123456789AB&1"},
                      Row{R"(USBSTOR\DISK&VEN_&PROD_STICK&REV_1.00\0123456789AB&0)", "", "STICK",
                          "0123456789AB"},
                      // no vendor or product part: both empty, the serial cut by the same rule
                      Row{R"(ROOT\DISK\0000)", "", "", "0000"},
                      // one character: "&0" is appended all the same
                      Row{"X", "", "", "X"},
                      // no backslash: the serial reaches back to the start
                      Row{"VEN_A&PROD_B&SER", "A", "B", "VEN_A&PROD_B&SER"}));

TEST_F(FakeWmiTest, FailsAndLeavesTheOutputsOnEveryFailedStep) {
    struct Case {
        const char* What;
        std::function<Answer(const std::string&)> Respond;
    };
    auto at = [](const char* cls, Answer bad) {
        return [cls, bad](const std::string& q) {
            Answer a = bad;
            if (q.find(cls) == std::string::npos) {
                // the other steps succeed
                a = Answer{};
                if (q.find("LogicalDisk") != std::string::npos)
                    a.Objects = {
                        One("Antecedent",
                            S(R"(x:Win32_DiskPartition.DeviceID="Disk #0, Partition #0")"))};
                else if (q.find("DiskDriveToDiskPartition") != std::string::npos)
                    a.Objects = {One("Antecedent",
                                     S(R"(x:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE0")"))};
                else
                    a.Objects = {One("PNPDeviceID", S("USBSTOR\\DISK&VEN_A&PROD_B\\C&0"), 8)};
            }
            return a;
        };
    };
    Answer none;
    Answer two;
    two.Objects = {One("Antecedent", S(R"(DeviceID="a")")),
                   One("Antecedent", S(R"(DeviceID="b")"))};
    Answer nullValue;
    nullValue.Objects = {One("Antecedent", TWbemVariant::Null())};
    Answer noMarker;
    noMarker.Objects = {One("Antecedent", S(R"(\\HOST\root\cimv2:Win32_DiskPartition.Name="x")"))};
    Answer thrown;
    thrown.Throw = Answer::Fail::Query;
    Answer missing;
    missing.Objects = {One("Antecedent", S(R"(DeviceID="a")"))};
    missing.Throw = Answer::Fail::Item;
    Answer otherName; // the property answers under a name of another case
    otherName.Objects = {One("antecedent", S(R"(DeviceID="Disk #0, Partition #0")"))};
    Answer countOnly; // says 1 but holds two
    countOnly.Count = 2;
    countOnly.Objects = {One("Antecedent", S(R"(DeviceID="a")"))};

    const std::vector<Case> cases = {
        {"no association", at("LogicalDisk", none)},
        {"two associations", at("LogicalDisk", two)},
        {"null Antecedent", at("LogicalDisk", nullValue)},
        {"no DeviceID in Antecedent", at("LogicalDisk", noMarker)},
        {"query 1 throws", at("LogicalDisk", thrown)},
        {"property missing", at("LogicalDisk", missing)},
        {"property name differs", at("LogicalDisk", otherName)},
        {"count of two", at("LogicalDisk", countOnly)},
        {"no disk for the partition", at("DiskDriveToDiskPartition", none)},
        {"two disks", at("DiskDriveToDiskPartition", two)},
        {"disk path without marker", at("DiskDriveToDiskPartition", noMarker)},
        {"query 2 throws", at("DiskDriveToDiskPartition", thrown)},
        {"no disk drive", at("Win32_DiskDrive ", none)},
        {"two disk drives", at("Win32_DiskDrive ", two)},
        {"query 3 throws", at("Win32_DiskDrive ", thrown)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        W.Respond = c.Respond;
        std::string v = "v0", p = "p0", s = "s0";
        EXPECT_FALSE(GetDriveUsbInfo("E", v, p, s));
        EXPECT_EQ(v, "v0");
        EXPECT_EQ(p, "p0");
        EXPECT_EQ(s, "s0");
        EXPECT_EQ(W.LiveLocators, 0);
    }
}

TEST_F(FakeWmiTest, NullIdentifierGivesNullSerialAndSuccess) {
    ChainFor(TWbemVariant::Null());
    std::string v = "v0", p = "p0", s = "s0";
    ASSERT_TRUE(GetDriveUsbInfo("E", v, p, s));
    EXPECT_EQ(v, "");
    EXPECT_EQ(p, "");
    EXPECT_EQ(s, "NULL");
}

TEST_F(FakeWmiTest, PartitionIdentifierIsCutAfterTheMarker) {
    // The rest after the marker is taken up to 999 characters, less its last one.
    const std::string longId(1500, 'x');
    W.Respond = [&](const std::string& q) {
        Answer a;
        if (q.find("LogicalDisk") != std::string::npos)
            a.Objects = {One("Antecedent", S("a:b.DeviceID=\"" + longId + "\""))};
        return a;
    };
    std::string v, p, s;
    EXPECT_FALSE(GetDriveUsbInfo("E", v, p, s));
    ASSERT_EQ(W.Queries.size(), 2u);
    const std::string head =
        R"(SELECT * FROM  Win32_DiskDriveToDiskPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID=")";
    EXPECT_EQ(W.Queries[1], head + std::string(998, 'x') + "\"'");

    // A marker at the very end leaves an empty identifier, and no crash.
    W.Queries.clear();
    W.Respond = [&](const std::string& q) {
        Answer a;
        if (q.find("LogicalDisk") != std::string::npos)
            a.Objects = {One("Antecedent", S("DeviceID=\""))};
        return a;
    };
    EXPECT_FALSE(GetDriveUsbInfo("E", v, p, s));
    ASSERT_EQ(W.Queries.size(), 2u);
    EXPECT_EQ(W.Queries[1], head + "\"'");
}

TEST_F(FakeWmiTest, RefusesADriveThatIsNotOneLetter) {
    ChainFor(S("USBSTOR\\DISK&VEN_A&PROD_B\\C&0"));
    for (const char* d : {"", "E:", "EF", "'", "1", "E\"' OR '1'='1"}) {
        std::string v = "v0", p = "p0", s = "s0";
        EXPECT_FALSE(GetDriveUsbInfo(d, v, p, s)) << d;
        EXPECT_EQ(v + p + s, "v0p0s0");
    }
    EXPECT_TRUE(W.Queries.empty());
}

TEST_F(FakeWmiTest, WmiGetOnePropertyCountsAndFails) {
    std::string value = "junk";
    W.Respond = [](const std::string&) { return Answer{}; };
    EXPECT_EQ(WmiGetOneProperty("q", "P", value), 0);
    EXPECT_EQ(value, "");

    W.Respond = [](const std::string&) {
        Answer a;
        a.Objects = {One("P", S("1")), One("P", S("2")), One("P", S("3"))};
        return a;
    };
    value = "junk";
    EXPECT_EQ(WmiGetOneProperty("q", "P", value), 3);
    EXPECT_EQ(value, "");

    W.Respond = [](const std::string&) {
        Answer a;
        a.Objects = {One("P", S("one"), wbemCimtypeString)};
        return a;
    };
    EXPECT_EQ(WmiGetOneProperty("q", "P", value), 1);
    EXPECT_EQ(value, "one");
    EXPECT_EQ(WmiGetOneProperty("q", "p", value), 1) << "name of another case";
    EXPECT_EQ(value, "");
    EXPECT_EQ(WmiGetOneProperty("q", "Q", value), -1) << "no such property";

    value = "junk";
    W.FailConnect = true;
    EXPECT_EQ(WmiGetOneProperty("q", "P", value), -1);
    EXPECT_EQ(value, "");
    W.FailConnect = false;
    W.FailCreate = true;
    EXPECT_EQ(WmiGetOneProperty("q", "P", value), -1);
    EXPECT_EQ(W.LiveLocators, 0);
}

class Fixed : public ISWbemProperty {
public:
    Fixed(int t, TWbemVariant v) : T(t), V(std::move(v)) {}
    std::string Name() const override { return "X"; }
    int CIMType() const override { return T; }
    TWbemVariant Value() const override { return V; }
    int T;
    TWbemVariant V;
};

std::string Render(int type, TWbemVariant v) {
    return WmiPropertyToString(Fixed(type, v));
}

TEST(WmiPropertyToString, RendersEveryType) {
    using V = TWbemVariant;
    using Sc = TWbemScalar;
    for (int t : {2, 3, 4, 5, 8, 11, 13, 16, 17, 18, 19, 20, 21, 101, 102, 103, 0, 999})
        EXPECT_EQ(Render(t, V::Null()), "NULL") << t;
    EXPECT_EQ(Render(16, V(Sc(std::int64_t{-128}))), "-128");
    EXPECT_EQ(Render(2, V(Sc(std::int64_t{-32768}))), "-32768");
    EXPECT_EQ(Render(3, V(Sc(std::int64_t{2147483647}))), "2147483647");
    EXPECT_EQ(Render(20, V(Sc(std::int64_t{-9223372036854775807LL - 1}))), "-9223372036854775808");
    EXPECT_EQ(Render(17, V(Sc(std::int64_t{255}))), "255");
    EXPECT_EQ(Render(18, V(Sc(std::uint64_t{65535}))), "65535");
    EXPECT_EQ(Render(19, V(Sc(std::int64_t{4294967295LL}))), "4294967295");
    EXPECT_EQ(
        Render(19, V::Array({Sc(std::int64_t{1}), Sc(std::int64_t{22}), Sc(std::int64_t{-3})})),
        "1|22|-3");
    EXPECT_EQ(Render(5, V(Sc(2.5))), "2.5");
    EXPECT_EQ(Render(5, V(Sc(-0.125))), "-0.125");
    EXPECT_EQ(Render(4, V(Sc(0.1))), "0.1") << "a 32-bit real in its own precision";
    EXPECT_EQ(Render(8, V(Sc(std::string("a b")))), "a b");
    EXPECT_EQ(
        Render(8, V::Array({Sc(std::string("x")), Sc(std::string("")), Sc(std::string("z"))})),
        "x||z");
    EXPECT_EQ(Render(21, V(Sc(std::string("18446744073709551615")))), "18446744073709551615");
    EXPECT_EQ(Render(21, V::Array({Sc(std::string("1")), Sc(std::string("2"))})), "1|2");
    EXPECT_EQ(Render(11, V(Sc(true))), "True");
    EXPECT_EQ(Render(11, V(Sc(false))), "False");
    EXPECT_EQ(Render(13, V(Sc(TWbemEmbeddedObject{"Win32_Foo"}))), "<CIM Object>");
    EXPECT_EQ(Render(101, V(Sc(std::string("20240102030405.000000+060")))),
              "20240102030405.000000+060");
    EXPECT_EQ(Render(102, V(Sc(std::string(R"(\\H\root\cimv2:C.K="1")")))),
              R"(\\H\root\cimv2:C.K="1")");
    EXPECT_EQ(Render(103, V(Sc(std::int64_t{65}))), "<16-bit character>");
    EXPECT_EQ(Render(0, V(Sc(std::string("x")))), "");
    EXPECT_EQ(Render(14, V(Sc(std::int64_t{1}))), "");
    EXPECT_EQ(Render(8, V::Array({})), "") << "an empty array";
    EXPECT_EQ(Render(19, V::Array({})), "");
}

TEST(ExtractPnp, FieldsAndSerial) {
    EXPECT_EQ(ExtractPnpField("A&VEN_X&Y", "VEN_"), "X");
    EXPECT_EQ(ExtractPnpField("A&VEN_XYZ", "VEN_"), "XYZ") << "up to the end";
    EXPECT_EQ(ExtractPnpField("A&VEN_", "VEN_"), "");
    EXPECT_EQ(ExtractPnpField("VEN_1&VEN_2", "VEN_"), "1") << "first occurrence";
    EXPECT_EQ(ExtractPnpField("ABC", "VEN_"), "");
    EXPECT_EQ(ExtractPnpField("", "VEN_"), "");
    EXPECT_EQ(ExtractPnpSerial(R"(A\B\SER&0)"), "SER");
    EXPECT_EQ(ExtractPnpSerial(R"(A\B\S&E&R&0)"), "S&E&R") << "last &";
    EXPECT_EQ(ExtractPnpSerial("SER&0"), "SER") << "no backslash";
    EXPECT_EQ(ExtractPnpSerial("&0"), "");
    EXPECT_EQ(ExtractPnpSerial(R"(A\&0)"), "");
    EXPECT_EQ(ExtractPnpSerial(R"(A\B\SER)"), "") << "no &";
}

} // namespace
