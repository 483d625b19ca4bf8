#include "run/run_boxes.h"

#include <string>

namespace fwpack {

namespace {

std::string_view AnswerText(BoxButton answer) {
    switch (answer) {
    case BoxButton::Ok: return "OK";
    case BoxButton::Yes: return "Yes";
    case BoxButton::No: return "No";
    default: return "none";
    }
}

}  // namespace

BoxButton RunBoxes::Show(std::string_view text, std::string_view caption, BoxIcon icon,
                         BoxButtons buttons) {
    run_.Log.Line("box shown: caption " + InQuotes(caption) + ", text " + InQuotes(text));
    const bool worker = owner_ == BoxesOf::Worker;
    WorkerPhase before = run_.Phase.load();
    if (worker) run_.Phase.store(WorkerPhase::InBox);
    BoxButton answer = inner_.Show(text, caption, icon, buttons);
    if (worker) run_.Phase.store(before);
    run_.Log.Line("box answered: " + std::string(AnswerText(answer)));
    return answer;
}

}  // namespace fwpack
