// Golden-file text for the IPP fill: attributes written on one line, and a
// snapshot described on one line with the alert each record gives in the
// library (its id and value).
//
//   attributes:  name=value,value | name=value        ("||" between job groups)
//   values:      true/false boolean, -12 integer, 600dpi / 300x600dpcm
//                resolution, anything else a keyword
#pragma once

#include <string>
#include <vector>

#include "ipp/attributes.h"
#include "snapshot.h"

namespace kvtest {

kvnet::ipp::Attributes parseAttributes(const std::string& line);
std::vector<kvnet::ipp::Attributes> parseJobGroups(const std::string& line);

// Every field the IPP fill writes, when set, then the answered request
// codes and the notes.
std::string describeSnapshot(const kvnet::Snapshot& snapshot);
std::string describeJobs(const kvnet::Snapshot& snapshot);

}  // namespace kvtest
