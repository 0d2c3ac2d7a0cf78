// Identifiers that real Windows machines gave real USB storage devices (tests/data/pnp-corpus):
// what the wizard cuts from each, and whether the Linux provider gives the same identifier for
// a device with the same INQUIRY texts, serial and LUN.

#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mod_DriveUsbInfo.h"
#include "sim_machine.h"

namespace {

struct CorpusRow {
    int N = 0;
    std::string Kind; // plain, made-up, composite, cdrom or uas, without ",weak"
    std::string Vendor, Product, Rev, Serial;
    std::string Lun;
    std::string WindowsId;
};

std::vector<CorpusRow> ReadCorpus() {
    std::ifstream in(PENDOCK_SOURCE_DIR "/tests/data/pnp-corpus/identities.tsv");
    if (!in)
        throw std::runtime_error("tests/data/pnp-corpus/identities.tsv cannot be read");
    std::vector<CorpusRow> rows;
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() < 8)
            throw std::runtime_error("short corpus line: " + line);
        rows.push_back(
            {std::stoi(f[0]), f[1].substr(0, f[1].find(',')), f[2], f[3], f[4], f[5], f[6], f[7]});
    }
    return rows;
}

// The rows whose identifier the provider does not give, and why.
const std::map<int, std::string> NotReproduced = {
    {10, "CD-ROM LUN: USBSTOR\\CDROM and never a Win32_DiskDrive; the provider lists no disk "
         "for it either"},
    {36, "CD-ROM LUN of a composite modem, as row 10"},
    {37, "CD-ROM LUN, as row 10"},
    {38, "CD-ROM LUN of a composite gadget, as row 10; Windows puts a made-up prefix in front "
         "of its serial"},
    {39, "CD-ROM LUN, as row 10"},
    {41, "CD-ROM LUN, as row 10"},
    {42, "USB Attached SCSI: Windows ends the made-up instance with &<bus, target, lun> "
         "(&000000), which the provider leaves off"},
    {43, "USB Attached SCSI, as row 42"},
    {44, "USB Attached SCSI, as row 42"},
    {11, "a made-up prefix, then \"__&0\": the serial the device had is not known, and the "
         "provider never puts a serial behind a made-up prefix"},
    {32, "the revision's bytes are not known (Windows shows one \"_\")"},
    {35, "Windows XP kept a serial with 14 leading blanks, as \"_\", behind a made-up prefix; "
         "the provider takes a serial with a blank as unusable and makes the whole instance up "
         "(one sighting, and row 41 shows such a serial without the prefix)"},
};

// The instance of an identifier ENUMERATOR\DEVICE\INSTANCE, and the part before it.
std::string Instance(const std::string& id) {
    return id.substr(id.rfind('\\') + 1);
}
std::string DevicePart(const std::string& id) {
    return id.substr(0, id.rfind('\\'));
}

// A made-up instance as Windows writes one: depth, hash without leading zeros, then `n`.
bool IsMadeUp(const std::string& instance, const std::string& n) {
    return std::regex_match(instance, std::regex("[0-9A-F]&[1-9A-F][0-9A-F]{0,7}&" + n));
}

// Whether the provider's identifier `id` is Windows' for row `r`: the same text, or for a
// made-up instance the same device part and both instances of the made-up form (where the row
// gives only "<d>&<hash>", Windows' form is taken as known).
bool SameAsWindows(const std::string& id, const CorpusRow& r) {
    if (r.Kind == "plain")
        return id == r.WindowsId;
    const std::string windows = Instance(r.WindowsId);
    return DevicePart(id) == DevicePart(r.WindowsId) && IsMadeUp(Instance(id), r.Lun) &&
           (windows.starts_with("<") || IsMadeUp(windows, r.Lun));
}

} // namespace

TEST(WindowsIdentities, TheWizardCutsTheTextsEachIdentifierHolds) {
    const auto rows = ReadCorpus();
    ASSERT_EQ(rows.size(), 44u);
    for (const CorpusRow& r : rows) {
        SCOPED_TRACE("row " + std::to_string(r.N) + ": " + r.WindowsId);
        // The fields of the device part, DEVICE&VEN_v&PROD_p[&REV_r].
        std::string vendor = "(none)", product = "(none)";
        bool revision = false;
        std::istringstream fields(DevicePart(r.WindowsId));
        for (std::string f; std::getline(fields, f, '&');) {
            if (f.starts_with("VEN_"))
                vendor = f.substr(4);
            else if (f.starts_with("PROD_"))
                product = f.substr(5);
            else if (f.starts_with("REV_"))
                revision = true;
        }
        const std::string instance = Instance(r.WindowsId);
        // Without a REV_ field (USB Attached SCSI disks) the product runs on into the instance,
        // up to its first "&".
        if (!revision)
            product += "\\" + instance.substr(0, instance.find('&'));
        EXPECT_EQ(ExtractPnpField(r.WindowsId, "VEN_"), vendor);
        EXPECT_EQ(ExtractPnpField(r.WindowsId, "PROD_"), product);
        // The wizard appends "&0" to an identifier that does not end so (an instance cut to 63
        // characters, a LUN other than 0) before it cuts the serial: the serial is the instance
        // less a final "&0".
        const std::string asRead = r.WindowsId.ends_with("&0") ? r.WindowsId : r.WindowsId + "&0";
        EXPECT_EQ(ExtractPnpSerial(asRead),
                  instance.ends_with("&0") ? instance.substr(0, instance.size() - 2) : instance);
    }
}

// Each plain or made-up row's device as a disk of one simulated machine: its INQUIRY texts at
// their full width, its USB serial and its LUN, on a USB port of its own (1-<row>). The disks
// carry sequence numbers in the order added, so the provider numbers them 0, 1, ... in that
// order.
TEST(WindowsIdentities, TheProviderGivesWindowsIdentifierForTheSameDevice) {
    const auto rows = ReadCorpus();
    std::vector<const CorpusRow*> built;
    std::size_t listedSeen = 0;
    SimMachine m;
    for (const CorpusRow& r : rows) {
        const bool listed = NotReproduced.contains(r.N);
        listedSeen += listed;
        if (r.Kind != "plain" && r.Kind != "made-up") {
            EXPECT_TRUE(listed) << "row " << r.N << ", " << r.Kind << ", not in NotReproduced";
            if (listed)
                std::cout << "row " << r.N << " not reproduced: " << NotReproduced.at(r.N) << "\n";
            continue;
        }
        const std::size_t i = built.size();
        const std::string name = std::string("sd") + char('a' + i / 26) + char('a' + i % 26);
        std::vector<std::string> disk = {name, "--parts", "0", "--port",
                                         "1-" + std::to_string(r.N)};
        disk.insert(disk.end(), {"--vendor", r.Vendor, "--model", r.Product, "--rev", r.Rev});
        disk.insert(disk.end(), {"--lun", r.Lun, "--diskseq", std::to_string(i + 1)});
        if (r.Serial.starts_with("("))
            disk.push_back("--no-serial");
        else
            disk.insert(disk.end(), {"--serial", r.Serial});
        m.Simkey("add-disk", disk);
        built.push_back(&r);
    }
    EXPECT_EQ(listedSeen, NotReproduced.size()) << "NotReproduced names a row not in the corpus";
    ASSERT_EQ(built.size(), 35u) << "30 plain and 5 made-up rows";

    ScopedProvider provider(m.NewMap());
    for (std::size_t i = 0; i < built.size(); ++i) {
        const CorpusRow& r = *built[i];
        SCOPED_TRACE("row " + std::to_string(r.N) + ": " + r.WindowsId);
        std::string id;
        ASSERT_EQ(WmiGetOneProperty(DiskDriveQuery(R"(\\\\.\\PHYSICALDRIVE)" + std::to_string(i)),
                                    "PNPDeviceID", id),
                  1);
        if (const auto listed = NotReproduced.find(r.N); listed != NotReproduced.end()) {
            std::cout << "row " << r.N << " not reproduced (" << listed->second << "): " << id
                      << "\n";
            EXPECT_FALSE(SameAsWindows(id, r)) << "reproduced now: take it off NotReproduced";
        } else {
            EXPECT_TRUE(SameAsWindows(id, r)) << "the provider gives " << id;
        }
    }
}
