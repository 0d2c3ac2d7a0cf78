#pragma once
// WQL queries of the one form the provider answers (SELECT props|* FROM Class [WHERE Prop =
// 'value']) and WMI object paths (\\HOST\root\cimv2:Class.Key="value").

#include <string>
#include <string_view>
#include <vector>

namespace platform::lnx {

struct TWqlQuery {
    std::string ClassName;
    std::vector<std::string> Select; // empty for *
    bool HasWhere = false;
    std::string WhereProperty;
    std::string WhereValue; // escapes undone
};

struct TObjectRef {
    std::string ClassName;
    std::string Key;
    std::string Value; // escapes undone
};

// Both throw EWbemError with wbemErrInvalidQuery for text they do not accept.
TWqlQuery ParseWql(std::string_view text);
// `hostName` is this machine's name; "." is accepted as well.
TObjectRef ParseObjectPath(std::string_view path, std::string_view hostName);

// A key value with every backslash and double quote escaped, as object paths carry it.
std::string EscapePathValue(std::string_view value);

} // namespace platform::lnx
