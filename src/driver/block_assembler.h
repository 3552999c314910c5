// Assembly of one output block: 480 frames, each holding every endpoint's
// channels in list order and then the two announcement channels. Touches no
// system call, so it is the same on every platform and cheap to measure.
//
// An endpoint gives its oldest queued frames to the first frames of the block,
// one whole frame per output frame, and zeros once it has none left; frames
// beyond 480 stay queued for the next tick. The announcement source does the
// same for the last two channels (taking the tick's frames under one lock hold),
// and a missing source gives zeros. Runs on the main thread, which owns the
// endpoints and their queues.
#pragma once

#include <cstddef>
#include <cstdint>

#include "announcement/announcement_source.h"
#include "capture/endpoint_discovery.h"

namespace velmoravad {

// Fills `block`, kFramesPerTick frames of `frameChannels` samples (the channels
// of every endpoint plus the two announcement channels), and removes what it
// used from the queues. `announcements` may be null.
void AssembleBlock(EndpointList& endpoints, AnnouncementSource* announcements,
                   std::size_t frameChannels, std::int16_t* block);

}  // namespace velmoravad
