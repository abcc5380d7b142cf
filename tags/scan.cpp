#include "tags/id3.h"

namespace pellora::tags {

// The readers are called here in the order of a file's layout; until they exist a
// scan only clears the record and reports revision 3, as for a file without tags.
void clsID3::ReadTags() {
  ResetForScan();
  id3_revision_v2_ = 3;
}

}  // namespace pellora::tags
