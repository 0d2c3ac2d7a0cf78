// COM start-up, the drive letters and the WMI provider of the Windows layer, against the
// system's WMI: Wine's, or the stand-in that answers as Windows does about the machine of
// tests/data/wmi/machine.txt (PENDOCK_WMI_MACHINE set, see tests/support/wmi_standin).

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "mod_DriveUsbInfo.h"
#include "mod_WbemScripting_TLB.h"
#include "platform/logical_drives.h"
#include "platform/program_com.h"
#include "platform/windows/com_init.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/wmi_provider.h"
#include "platform/wmi.h"

namespace {

using platform::win::VariantToWbem;

// Whether WMI is the stand-in, which must answer as Windows does.
bool UnderStandin() {
    return std::getenv("PENDOCK_WMI_MACHINE") != nullptr;
}

// ---- COM start-up -------------------------------------------------------------------------------

// What a thread gets from the locator: 0 when it could be made, else the error's code.
std::uint32_t LocatorError() {
    try {
        platform::win::MakeComWbemLocator();
        return 0;
    } catch (const EWbemError& e) {
        return e.Code();
    }
}

TEST(WinComStartup, ProgramAndApplicationLayers) {
    // On a thread of its own, as a program's entry does on its main thread.
    HRESULT programResult = E_FAIL;
    bool applicationFirst = false, applicationAgain = false, applicationAfterEnd = true;
    std::uint32_t before = 0, withBoth = 1, withProgramOnly = 1, after = 0;
    std::thread([&] {
        before = LocatorError();
        {
            const platform::TProgramCom com;
            programResult = com.Result();
            applicationFirst = platform::win::InitializeComForApplication();
            applicationAgain = platform::win::InitializeComForApplication(); // once only
            withBoth = LocatorError();
            platform::win::FinalizeComForApplication();
            platform::win::FinalizeComForApplication(); // nothing left to undo
            withProgramOnly = LocatorError();
            // Left in effect: the program layer's end undoes it first.
            platform::win::InitializeComForApplication();
        }
        applicationAfterEnd = platform::win::ComApplicationInitialized();
        after = LocatorError();
    }).join();

    EXPECT_EQ(before, static_cast<std::uint32_t>(CO_E_NOTINITIALIZED));
    EXPECT_EQ(programResult, S_OK);
    EXPECT_TRUE(applicationFirst);
    EXPECT_TRUE(applicationAgain);
    EXPECT_EQ(withBoth, 0u);
    EXPECT_EQ(withProgramOnly, 0u);
    EXPECT_FALSE(applicationAfterEnd);
    // Both layers undone: the thread is without COM again.
    EXPECT_EQ(after, static_cast<std::uint32_t>(CO_E_NOTINITIALIZED));
}

TEST(WinComStartup, AThreadWithoutComCannotMakeTheLocator) {
    std::uint32_t code = 0;
    bool withScope = false;
    std::thread([&] {
        try {
            platform::win::MakeComWbemLocator();
        } catch (const EWbemError& e) {
            code = e.Code();
        }
        platform::win::TComThreadScope com(COINIT_MULTITHREADED);
        if (com.Succeeded()) {
            auto locator = platform::win::MakeComWbemLocator();
            auto services = locator->ConnectServer("", "root\\CIMV2", "", "", "", "", 0, nullptr);
            withScope = services
                            ->ExecQuery("SELECT * FROM Win32_DiskDrive", "WQL",
                                        wbemFlagReturnImmediately, nullptr)
                            ->Count() > 0;
        }
    }).join();
    EXPECT_EQ(code, static_cast<std::uint32_t>(CO_E_NOTINITIALIZED));
    EXPECT_TRUE(withScope);
}

// ---- drive letters ------------------------------------------------------------------------------

TEST(WinDrives, LettersAndTheirRootFolders) {
    const std::uint32_t mask = platform::GetLogicalDrives();
    EXPECT_EQ(mask, static_cast<std::uint32_t>(::GetLogicalDrives()));
    EXPECT_NE(mask & (1u << ('C' - 'A')), 0u);

    const TDriveConn drives = GetConnectedDrives();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        SCOPED_TRACE(letter);
        const bool present = (mask >> (letter - 'A')) & 1u;
        if (letter >= 'C') {
            EXPECT_EQ(drives[static_cast<std::size_t>(letter - 'C')], present);
        }
        const std::string root = platform::DriveRootPath(letter);
        const std::string expected = present ? std::string{letter, ':'} : std::string();
        EXPECT_EQ(root, expected);
        const char lower = static_cast<char>(letter - 'A' + 'a');
        EXPECT_EQ(platform::DriveRootPath(lower), root);
        if (present && letter >= 'C') {
            // The root names a folder that can be reached below it.
            const DWORD attrs = ::GetFileAttributesW(platform::win::Widen(root + "\\").c_str());
            ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
            EXPECT_NE(attrs & FILE_ATTRIBUTE_DIRECTORY, 0u);
        }
    }
    for (char bad : {'\0', '1', ':', '[', '@', '\xC4'})
        EXPECT_EQ(platform::DriveRootPath(bad), "") << int(bad);
}

// ---- values -------------------------------------------------------------------------------------

class WinWmiValues : public ::testing::Test {
protected:
    static std::string Text(const TWbemVariant& v, int type) {
        struct P : ISWbemProperty {
            TWbemVariant v;
            int t;
            std::string Name() const override { return "P"; }
            int CIMType() const override { return t; }
            TWbemVariant Value() const override { return v; }
        } p;
        p.v = v;
        p.t = type;
        return WmiPropertyToString(p);
    }
};

TEST_F(WinWmiValues, ScalarsByTheirCimType) {
    VARIANT v;
    ::VariantInit(&v);
    EXPECT_TRUE(VariantToWbem(v, CIM_STRING).IsNull());
    v.vt = VT_NULL;
    EXPECT_TRUE(VariantToWbem(v, CIM_UINT32).IsNull());

    // WMI hands unsigned 32-bit values out as VT_I4.
    v.vt = VT_I4;
    v.lVal = -1;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_UINT32), CIM_UINT32), "4294967295");
    EXPECT_EQ(Text(VariantToWbem(v, CIM_SINT32), CIM_SINT32), "-1");
    v.vt = VT_I2;
    v.iVal = -7;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_SINT8), CIM_SINT8), "-7");
    v.vt = VT_UI1;
    v.bVal = 200;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_UINT8), CIM_UINT8), "200");
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_BOOLEAN), CIM_BOOLEAN), "True");
    v.boolVal = VARIANT_FALSE;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_BOOLEAN), CIM_BOOLEAN), "False");
    v.vt = VT_R8;
    v.dblVal = 2.5;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_REAL64), CIM_REAL64), "2.5");
    v.vt = VT_R4;
    v.fltVal = 0.1f;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_REAL32), CIM_REAL32), "0.1");

    // 64-bit integers come as texts.
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(L"18446744073709551615");
    const TWbemVariant big = VariantToWbem(v, CIM_UINT64);
    ASSERT_TRUE(std::holds_alternative<std::uint64_t>(big.Scalar()));
    EXPECT_EQ(std::get<std::uint64_t>(big.Scalar()), 18446744073709551615ull);
    EXPECT_EQ(Text(big, CIM_UINT64), "18446744073709551615");
    ::VariantClear(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(L"-9000000000");
    EXPECT_EQ(Text(VariantToWbem(v, CIM_SINT64), CIM_SINT64), "-9000000000");
    ::VariantClear(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(L"K\u00fcrbis \u540d");
    EXPECT_EQ(Text(VariantToWbem(v, CIM_STRING), CIM_STRING), "K\xC3\xBCrbis \xE5\x90\x8D");
    ::VariantClear(&v);

    v.vt = VT_I2;
    v.iVal = 'A';
    EXPECT_EQ(Text(VariantToWbem(v, CIM_CHAR16), CIM_CHAR16), "<16-bit character>");

    v.vt = VT_DECIMAL; // no CIM type is delivered so
    EXPECT_THROW(VariantToWbem(v, CIM_UINT32), EWbemError);
}

TEST_F(WinWmiValues, ArraysFromTheirLowerBound) {
    SAFEARRAYBOUND bound{3, 1}; // indices 1 to 3
    SAFEARRAY* texts = ::SafeArrayCreate(VT_BSTR, 1, &bound);
    ASSERT_NE(texts, nullptr);
    const wchar_t* words[] = {L"a", L"", L"c"};
    for (LONG i = 0; i < 3; ++i) {
        LONG index = i + 1;
        BSTR s = ::SysAllocString(words[i]);
        ASSERT_EQ(::SafeArrayPutElement(texts, &index, s), S_OK);
        ::SysFreeString(s);
    }
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = texts;
    const TWbemVariant value = VariantToWbem(v, CIM_STRING | CIM_FLAG_ARRAY);
    ASSERT_TRUE(value.IsArray());
    EXPECT_EQ(Text(value, CIM_STRING), "a||c");
    ::VariantClear(&v);

    SAFEARRAYBOUND two{2, 0};
    SAFEARRAY* numbers = ::SafeArrayCreate(VT_I4, 1, &two);
    LONG index = 0;
    LONG n = -2;
    ::SafeArrayPutElement(numbers, &index, &n);
    index = 1;
    n = 7;
    ::SafeArrayPutElement(numbers, &index, &n);
    v.vt = VT_ARRAY | VT_I4;
    v.parray = numbers;
    EXPECT_EQ(Text(VariantToWbem(v, CIM_UINT32 | CIM_FLAG_ARRAY), CIM_UINT32), "4294967294|7");
    ::VariantClear(&v);

    SAFEARRAYBOUND none{0, 0};
    v.vt = VT_ARRAY | VT_I4;
    v.parray = ::SafeArrayCreate(VT_I4, 1, &none);
    const TWbemVariant empty = VariantToWbem(v, CIM_SINT32 | CIM_FLAG_ARRAY);
    EXPECT_TRUE(empty.IsArray());
    EXPECT_TRUE(empty.Elements().empty());
    EXPECT_EQ(Text(empty, CIM_SINT32), "");
    ::VariantClear(&v);
}

// ---- the system's WMI ---------------------------------------------------------------------------

class WinWmi : public ::testing::Test {
protected:
    std::shared_ptr<ISWbemServices> Connect() {
        auto locator = platform::CreatePlatformWbemLocator();
        return locator->ConnectServer("", "root\\CIMV2", "", "", "", "", 0, nullptr);
    }
};

TEST_F(WinWmi, DiskDrivesWithTheirPropertiesAndTypes) {
    auto objects = Connect()->ExecQuery("SELECT * FROM Win32_DiskDrive", "WQL",
                                        wbemFlagReturnImmediately, nullptr);
    ASSERT_NE(objects, nullptr);
    const int count = objects->Count();
    ASSERT_GE(count, 1);
    auto items = objects->NewEnum();
    int seen = 0;
    while (auto object = items->Next()) {
        SCOPED_TRACE(seen);
        auto props = object->Properties_();
        EXPECT_GT(props->Count(), 3);

        // Any case finds the property; its name is the class's spelling.
        auto id = props->Item("deviceid", 0);
        EXPECT_EQ(id->CIMType(), wbemCimtypeString);
        if (UnderStandin()) {
            EXPECT_EQ(id->Name(), "DeviceID");
            EXPECT_EQ(WmiPropertyToString(*id), "\\\\.\\PHYSICALDRIVE" + std::to_string(seen));
        } else {
            // Wine spells DeviceId and doubles the backslashes.
            EXPECT_TRUE(id->Name() == "DeviceID" || id->Name() == "DeviceId") << id->Name();
            EXPECT_NE(WmiPropertyToString(*id).find("PHYSICALDRIVE"), std::string::npos)
                << WmiPropertyToString(*id);
        }

        auto pnp = props->Item("PNPDeviceID", 0);
        EXPECT_EQ(pnp->Name(), "PNPDeviceID");
        EXPECT_EQ(pnp->CIMType(), wbemCimtypeString);
        EXPECT_FALSE(WmiPropertyToString(*pnp).empty());

        auto index = props->Item("Index", 0);
        EXPECT_EQ(index->CIMType(), wbemCimtypeUint32);
        EXPECT_EQ(WmiPropertyToString(*index), std::to_string(seen));

        auto size = props->Item("Size", 0);
        EXPECT_EQ(size->CIMType(), wbemCimtypeUint64);
        const std::string sizeText = WmiPropertyToString(*size);
        EXPECT_FALSE(sizeText.empty());
        EXPECT_EQ(sizeText.find_first_not_of("0123456789"), std::string::npos) << sizeText;

        EXPECT_THROW(props->Item("NoSuchProperty", 0), EWbemError);
        EXPECT_THROW(props->Item("__CLASS", 0), EWbemError);
        ++seen;
    }
    EXPECT_EQ(seen, count);
    EXPECT_EQ(items->Next(), nullptr);
}

TEST_F(WinWmi, OtherTypesRender) {
    auto services = Connect();
    auto one = [&](const char* query, const char* name) {
        auto objects = services->ExecQuery(query, "WQL", wbemFlagReturnImmediately, nullptr);
        auto object = objects->NewEnum()->Next();
        if (!object)
            throw EWbemError(wbemErrNotFound, query);
        return object->Properties_()->Item(name, 0);
    };
    auto primary = one("SELECT * FROM Win32_OperatingSystem", "Primary");
    EXPECT_EQ(primary->CIMType(), wbemCimtypeBoolean);
    EXPECT_EQ(WmiPropertyToString(*primary), "True");

    auto boot = one("SELECT * FROM Win32_OperatingSystem", "LastBootUpTime");
    EXPECT_EQ(boot->CIMType(), wbemCimtypeDatetime);
    EXPECT_EQ(WmiPropertyToString(*boot).size(), 25u) << WmiPropertyToString(*boot);

    auto width = one("SELECT * FROM Win32_Processor", "AddressWidth");
    EXPECT_EQ(width->CIMType(), wbemCimtypeUint16);
    EXPECT_EQ(WmiPropertyToString(*width), "64");

    auto antecedent = one("SELECT * FROM Win32_DiskDriveToDiskPartition", "Antecedent");
    EXPECT_EQ(antecedent->CIMType(), wbemCimtypeReference);
    EXPECT_NE(WmiPropertyToString(*antecedent).find("Win32_DiskDrive.DeviceI"), std::string::npos)
        << WmiPropertyToString(*antecedent);
}

TEST_F(WinWmi, RejectedQueriesAndConnections) {
    auto services = Connect();
    try {
        services->ExecQuery("SELECT FROM WHERE", "WQL", wbemFlagReturnImmediately, nullptr);
        ADD_FAILURE() << "a malformed query was accepted";
    } catch (const EWbemError& e) {
        EXPECT_EQ(e.Code(), wbemErrInvalidQuery);
    }
    EXPECT_THROW(services->ExecQuery("SELECT * FROM Win32_DiskDrive", "NOTWQL",
                                     wbemFlagReturnImmediately, nullptr),
                 EWbemError);
    auto locator = platform::CreatePlatformWbemLocator();
    EXPECT_THROW(locator->ConnectServer("", "root\\NoSuchNamespace", "", "", "", "", 0, nullptr),
                 EWbemError);

    std::string value = "stale";
    EXPECT_EQ(WmiGetOneProperty("SELECT FROM WHERE", "Name", value), -1);
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_EQ(WmiGetOneProperty("SELECT * FROM Win32_OperatingSystem", "NoSuchProperty", value),
              -1);
    EXPECT_EQ(value, "");
    // An unknown class: an error on Windows, no objects on Wine; never one object.
    value = "stale";
    EXPECT_LE(WmiGetOneProperty("SELECT * FROM Win32_NoSuchClass", "Name", value), 0);
    EXPECT_EQ(value, "");
}

TEST_F(WinWmi, OnePropertyThroughTheIdentificationRoute) {
    std::string pnp;
    ASSERT_EQ(WmiGetOneProperty(DiskDriveQuery(R"(\\\\.\\PHYSICALDRIVE0)"), "PNPDeviceID", pnp), 1);
    EXPECT_FALSE(pnp.empty());
    auto direct = Connect()->ExecQuery("SELECT * FROM Win32_DiskDrive WHERE Index=0", "WQL",
                                       wbemFlagReturnImmediately, nullptr);
    ASSERT_EQ(direct->Count(), 1);
    auto object = direct->NewEnum()->Next();
    EXPECT_EQ(WmiPropertyToString(*object->Properties_()->Item("PNPDeviceID", 0)), pnp);

    // More than one object: the count, and no value.
    const int disks =
        Connect()
            ->ExecQuery("SELECT * FROM Win32_DiskDrive", "WQL", wbemFlagReturnImmediately, nullptr)
            ->Count();
    std::string value = "stale";
    EXPECT_EQ(WmiGetOneProperty("SELECT * FROM Win32_DiskDrive", "PNPDeviceID", value), disks);
    if (disks != 1) {
        EXPECT_EQ(value, "");
    }
}

TEST_F(WinWmi, DriveIdentificationFailsCleanlyOrGivesValues) {
    // Under the stand-in, the machine file's letters give their disks' values (the identities of
    // tests/data/wmi/identities.tsv), in either case of letter; the CD-ROM drive D: and the
    // letters of no disk fail. Under Wine's WMI any letter may fail, but cleanly.
    struct TCase {
        const char* Drive;
        std::optional<std::string> Values; // vendor|product|serial
    };
    const TCase cases[] = {
        {"E", "KINGSTON|DATATRAVELER_3.0|E0D55EA573C8E370B7E105BF"},
        {"g", "KINGSTON|DATATRAVELER_3.0|E0D55EA573C8E370B7E105BF"},
        {"H",
         "USB|SANDISK_3.2GEN1|0501F3E04B26DCBD25FCCD682AEB3CEE13B090D4CC0EEECAA0CEDA20E82E407"},
        {"C", "SAMSUNG|SSD_860_EVO\\4|4&2A1C9E4F&0&000000"},
        {"D", std::nullopt},
        {"F", std::nullopt},
        {"Z", std::nullopt},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Drive);
        std::string vid = "v", pid = "p", sn = "s";
        const bool ok = GetDriveUsbInfo(c.Drive, vid, pid, sn);
        if (UnderStandin()) {
            EXPECT_EQ(ok, c.Values.has_value());
            EXPECT_EQ(vid + "|" + pid + "|" + sn, c.Values.value_or("v|p|s"));
        } else if (ok) {
            EXPECT_FALSE(vid == "v" && pid == "p" && sn == "s");
        } else {
            EXPECT_EQ(vid + pid + sn, "vps");
        }
    }
    std::string vid = "v", pid = "p", sn = "s";
    EXPECT_FALSE(GetDriveUsbInfo("Q", vid, pid, sn)); // no such drive, under either WMI
    EXPECT_EQ(vid + pid + sn, "vps");
}

} // namespace
