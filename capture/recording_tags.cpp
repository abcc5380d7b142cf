// Tagging a recording file before its audio is written.
#include "capture/torvane.h"

namespace pellora::capture {

// Called by StartWriting when WriteID3TagToFile is set, after RecordPath was set
// and before the file is opened for the audio; a failure returned here ends
// StartWriting like a failure to open the file. Filling the tag store from the
// stream and updating the file's tags arrives with the tag writer; until then a
// tagged recording receives the audio alone.
std::error_code Torvane::TagRecordingFile() { return {}; }

}  // namespace pellora::capture
