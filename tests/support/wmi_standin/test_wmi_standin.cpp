// The WMI stand-in's reading of object paths and WQL, against the examples of Microsoft's pages,
// and its answers to the identification's three queries for the machine of the tests.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "wmi_machine.h"

namespace {

using namespace wmistandin;

TMachine TestMachine() {
    std::ifstream in(PENDOCK_SOURCE_DIR "/tests/data/wmi/machine.txt");
    return TMachine::Read(in, "PC7");
}

std::string Value(const TInstance& object, const char* name) {
    const TProperty* p = object.Find(name);
    if (!p)
        return "(absent)";
    if (const auto* s = std::get_if<std::string>(&p->Value))
        return *s;
    if (const auto* n = std::get_if<std::uint64_t>(&p->Value))
        return std::to_string(*n);
    if (const auto* b = std::get_if<bool>(&p->Value))
        return *b ? "TRUE" : "FALSE";
    return "NULL";
}

std::uint32_t ErrorOf(const TMachine& m, const std::string& wql) {
    try {
        m.ExecQuery(wql);
    } catch (const EWmiError& e) {
        return e.Code();
    }
    return 0;
}

// "WMI Object Path Requirements": paths compare as paths, without regard to case; a path
// without server and namespace is on the local machine in the default namespace.
TEST(WmiStandinPaths, PathsCompareAsPaths) {
    const TObjectPath p =
        ParseObjectPath(R"(\\PC7\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE1")");
    EXPECT_EQ(p.Server, "PC7");
    EXPECT_EQ(p.Namespace, "root\\cimv2");
    EXPECT_EQ(p.ClassName, "Win32_DiskDrive");
    ASSERT_EQ(p.Keys.size(), 1u);
    EXPECT_EQ(p.Keys[0].first, "DeviceID");
    EXPECT_EQ(p.Keys[0].second, R"(\\.\PHYSICALDRIVE1)");

    const std::string disk = R"(\\PC7\root\cimv2:Win32_LogicalDisk.DeviceID="C:")";
    for (const char* same :
         {R"(\\.\root\cimv2:Win32_LogicalDisk.DeviceID="C:")", R"(Win32_LogicalDisk.DeviceID="C:")",
          R"(Win32_LogicalDisk="C:")", R"(//./root/cimv2:Win32_LogicalDisk.DeviceID="C:")",
          R"(\\pc7\ROOT\CIMV2:win32_logicaldisk.deviceid="c:")",
          R"(root\cimv2:Win32_LogicalDisk.DeviceID='C:')"})
        EXPECT_TRUE(SameObjectPath(disk, same, "PC7")) << same;
    for (const char* other :
         {R"(\\OTHER\root\cimv2:Win32_LogicalDisk.DeviceID="C:")",
          R"(\\.\root\default:Win32_LogicalDisk.DeviceID="C:")",
          R"(Win32_LogicalDisk.DeviceID="D:")", R"(Win32_DiskPartition.DeviceID="C:")",
          R"(Win32_LogicalDisk)", R"(\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID="C:")"})
        EXPECT_FALSE(SameObjectPath(disk, other, "PC7")) << other;

    // Two keys, in any order; a number as its decimal text.
    EXPECT_TRUE(SameObjectPath(R"(Win32_X.A="a",B=12)", R"(Win32_X.B=12,A="A")", "PC7"));
    EXPECT_FALSE(SameObjectPath(R"(Win32_X.A="a",B=12)", R"(Win32_X.A="a")", "PC7"));

    EXPECT_EQ(QuotedKey(R"(\\.\PHYSICALDRIVE1)"), R"("\\\\.\\PHYSICALDRIVE1")");
    for (const char* bad : {"", R"(Win32_LogicalDisk.DeviceID="C:)", R"(\\PC7:Win32_X="a")",
                            R"(Win32_LogicalDisk.DeviceID=C:)"})
        EXPECT_THROW(ParseObjectPath(bad), EWmiError) << bad;
}

// "WHERE Clause (WMI)": \\, \" and \' in a string literal; comparisons ignore case; Booleans
// compare with TRUE, FALSE, 1 and 0; a constant may stand left of the property.
TEST(WmiStandinQueries, LiteralsAndComparisonsAsThePageSays) {
    EXPECT_EQ(UnescapeWqlString(R"('\\\\.\\root\\cimv2:X.DeviceID="E:"')"),
              R"(\\.\root\cimv2:X.DeviceID="E:")");
    EXPECT_EQ(UnescapeWqlString(R"("say \"hi\" and \'bye\'")"), R"(say "hi" and 'bye')");
    EXPECT_THROW(UnescapeWqlString(R"('open)"), EWmiError);

    const TMachine m = TestMachine();
    EXPECT_EQ(m.ExecQuery(R"(SELECT * FROM Win32_LogicalDisk WHERE FileSystem = "NTFS")").size(),
              1u);
    for (const char* q : {R"(SELECT * FROM Win32_LogicalDisk WHERE VolumeName = "quorvento")",
                          R"(select * from win32_logicaldisk where volumename = 'QuorVento')",
                          R"(SELECT * FROM Win32_LogicalDisk WHERE 'E:' = DeviceID)"})
        EXPECT_EQ(m.ExecQuery(q).size(), 1u) << q;
    EXPECT_EQ(m.ExecQuery("SELECT * FROM Win32_DiskPartition WHERE PrimaryPartition = TRUE").size(),
              5u);
    EXPECT_EQ(m.ExecQuery("SELECT * FROM Win32_DiskPartition WHERE Bootable <> 0").size(), 0u);
    EXPECT_EQ(
        m.ExecQuery("SELECT * FROM Win32_DiskDrive WHERE Index >= 1 AND NOT (Index = 2)").size(),
        1u);
    EXPECT_EQ(
        m.ExecQuery("SELECT * FROM Win32_LogicalDisk WHERE Size IS NULL OR DriveType = 3").size(),
        2u);
    // A projection keeps the properties named.
    const auto names = m.ExecQuery("SELECT Model FROM Win32_DiskDrive WHERE Index = 1");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].Properties.size(), 1u);
    EXPECT_EQ(Value(names[0], "model"), "Kingston DataTraveler 3.0 USB Device");

    EXPECT_EQ(ErrorOf(m, "SELECT FROM WHERE"), wbemErrInvalidQuery);
    EXPECT_EQ(ErrorOf(m, "SELECT * FROM Win32_DiskDrive WHERE NoSuch = 1"), wbemErrInvalidQuery);
    EXPECT_EQ(ErrorOf(m, "SELECT * FROM Win32_DiskDrive WHERE Index = 'one'"), wbemErrInvalidQuery);
    EXPECT_EQ(ErrorOf(m, "SELECT * FROM Win32_NoSuchClass"), wbemErrInvalidClass);
}

// The identification's three queries, as the program sends them, answered in Windows' forms:
// host-named paths, DeviceID, \\.\PHYSICALDRIVE<n>, the PNPDeviceID of the disk.
TEST(WmiStandinQueries, TheIdentificationRoad) {
    const TMachine m = TestMachine();
    const auto q1 = m.ExecQuery(
        R"(SELECT * FROM  Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID="G:"')");
    ASSERT_EQ(q1.size(), 1u);
    EXPECT_EQ(Value(q1[0], "Antecedent"),
              R"(\\PC7\root\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #1")");
    EXPECT_EQ(q1[0].Find("Antecedent")->Type, wbemCimtypeReference);
    EXPECT_EQ(Value(q1[0], "StartingAddress"), "8590983168");
    EXPECT_EQ(q1[0].Find("StartingAddress")->Type, wbemCimtypeUint64);

    const auto q2 = m.ExecQuery(
        R"(SELECT * FROM  Win32_DiskDriveToDiskPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_DiskPartition.DeviceID="Disk #1, Partition #1"')");
    ASSERT_EQ(q2.size(), 1u);
    EXPECT_EQ(Value(q2[0], "Antecedent"),
              R"(\\PC7\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE1")");

    const auto q3 =
        m.ExecQuery(R"(SELECT * FROM  Win32_DiskDrive WHERE DeviceID="\\\\.\\PHYSICALDRIVE1")");
    ASSERT_EQ(q3.size(), 1u);
    EXPECT_EQ(
        Value(q3[0], "PNPDeviceID"),
        R"(USBSTOR\DISK&VEN_KINGSTON&PROD_DATATRAVELER_3.0&REV_PMAP\E0D55EA573C8E370B7E105BF&0)");
    EXPECT_EQ(Value(q3[0], "DeviceID"), R"(\\.\PHYSICALDRIVE1)");
    EXPECT_EQ(Value(q3[0], "Partitions"), "2");
    EXPECT_EQ(q3[0].Find("Index")->Type, wbemCimtypeUint32);
    EXPECT_EQ(Value(q3[0], "InterfaceType"), "USB");
    EXPECT_EQ(q3[0].Path, R"(\\PC7\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE1")");

    // The CD-ROM drive's letter and a letter of no disk are on no partition.
    for (const char* letter : {"D", "F"}) {
        const std::string q =
            R"(SELECT * FROM  Win32_LogicalDiskToPartition WHERE Dependent='\\\\.\\root\\cimv2:Win32_LogicalDisk.DeviceID=")" +
            std::string(letter) + R"(:"')";
        EXPECT_EQ(m.ExecQuery(q).size(), 0u) << letter;
    }
    const auto cd = m.ExecQuery("SELECT * FROM Win32_LogicalDisk WHERE DeviceID = 'D:'");
    ASSERT_EQ(cd.size(), 1u);
    EXPECT_EQ(Value(cd[0], "DriveType"), "5");
    EXPECT_EQ(m.ExecQuery("SELECT * FROM Win32_CDROMDrive WHERE Drive = 'D:'").size(), 1u);
}

TEST(WmiStandinMachine, ALineNotUnderstoodIsNamed) {
    for (const char* text : {"disk 0 100\n", "partition 4 0 100\n", "volume E 0 0 FAT32\n",
                             "disk 0 1 P a\ndisk 0 1 P b\n", "floppy A:\n"}) {
        std::istringstream in(text);
        try {
            TMachine::Read(in, "PC7");
            ADD_FAILURE() << text;
        } catch (const EWmiError& e) {
            EXPECT_NE(std::string(e.what()).find("line "), std::string::npos) << e.what();
        }
    }
}

} // namespace
