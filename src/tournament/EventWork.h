#pragma once
// A whole tournament as one unit of work for the batch root's runners: the event's
// request as text in, its result as text out. The seed in the request decides every
// battle, so an event played twice, anywhere, answers the same.

#include "tournament/Tournament.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class CardCatalogue;

// Plays the event whose request is body; the result's text, or nothing when cancel
// stopped it. Throws InputError for a body it cannot read.
std::optional<std::string> answerEventWork(const CardCatalogue& catalogue, std::string_view body, unsigned threads,
                                           const std::atomic<bool>* cancel = nullptr);

} // namespace morvane
