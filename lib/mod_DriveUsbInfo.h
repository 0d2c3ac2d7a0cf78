#pragma once
// The map of drive letters in use and the identification of the USB disk behind a letter.

#include <array>
#include <string>
#include <vector>

// One flag per drive letter C to Z: element 0 is C:, element 23 is Z:.
using TDriveConn = std::array<bool, 24>;

// The drive letters present now (bits 2 to 25 of the platform's logical-drive mask).
TDriveConn GetConnectedDrives();

// Identifies the disk behind `Drive` (one upper-case letter, no colon). True with all three
// outputs assigned; false with the outputs left exactly as they were.
bool GetDriveUsbInfo(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                     std::string& UsbSN);

// What one identification asked and was told, for diagnostics: each query with the number of
// objects it returned (-1 for an error), the property's text and the error's message.
struct TUsbInfoStep {
    std::string Query;
    std::string Property;
    int Count = -1;
    std::string Value;
    std::string Error;
};
struct TUsbInfoTrace {
    std::vector<TUsbInfoStep> Steps;
    std::string PnpDeviceId; // as read, before "&0" is appended
};

// GetDriveUsbInfo, recording its steps into `Trace` as it goes.
bool GetDriveUsbInfo(const std::string& Drive, std::string& UsbVID, std::string& UsbPID,
                     std::string& UsbSN, TUsbInfoTrace* Trace);

// The three WQL queries of one identification, to the character: the partition of drive
// `drive` (one letter, no colon), the disk of partition `partition` ("Disk #1, Partition #0"),
// and the disk `disk` as the association's object path gives it, backslashes still doubled.
std::string LogicalDiskToPartitionQuery(const std::string& drive);
std::string DiskDriveToDiskPartitionQuery(const std::string& partition);
std::string DiskDriveQuery(const std::string& disk);

class ISWbemProperty;

// Runs the WQL query and renders the property `PropName` of its single result into
// `PropValue` (which is emptied first). Returns -1 on any error, otherwise the number of
// objects the query returned; the value is filled only when that number is 1 and the
// property's own name is exactly `PropName`.
int WmiGetOneProperty(const std::string& Query, const std::string& PropName,
                      std::string& PropValue);
// The same, with the message of an error that gives -1 put into `Error` (when not null).
int WmiGetOneProperty(const std::string& Query, const std::string& PropName, std::string& PropValue,
                      std::string* Error);

// The text of a property's value, by its CIM type: "NULL" for a null value, numbers in
// decimal, strings as they are, arrays joined by "|", "True"/"False", "<CIM Object>",
// "<16-bit character>", and the empty text for a type it does not know.
std::string WmiPropertyToString(const ISWbemProperty& Prop);

// The characters after the first `Marker` in `PnpId` up to the next "&" or the end; empty
// when the marker does not occur.
std::string ExtractPnpField(const std::string& PnpId, const std::string& Marker);

// The characters before the last "&" of `PnpId` back to the nearest "\" before it (or the
// start); empty when there is no "&".
std::string ExtractPnpSerial(const std::string& PnpId);
