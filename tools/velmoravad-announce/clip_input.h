// One input of the announce tool, opened and checked before anything is sent: a
// WAV file, or with --raw headerless stereo PCM; "-" is the standard input.
//
// Threading and lifetime: used by one thread; move-only, as it owns its handle.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "velmoravad-announce/clip_reader.h"
#include "velmoravad-announce/handle_byte_source.h"

namespace velmoravad {

struct ClipInput {
  std::string name;  // for messages, UTF-8: the path as given, or "standard input"
  std::unique_ptr<ByteSource> source;
  std::unique_ptr<ClipReader> reader;
  std::optional<std::uint64_t> frames;  // the clip's length where known beforehand
};

inline constexpr wchar_t kStandardInputArgument[] = L"-";

// Opens `argument` and checks its header. Nothing, with the error line in
// `errorLine`, when it cannot be played.
std::optional<ClipInput> OpenClipInput(const std::wstring& argument, bool raw,
                                       std::string& errorLine);

}  // namespace velmoravad
