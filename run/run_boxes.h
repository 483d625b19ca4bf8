// Message boxes as a run shows them: every box and the answer it got go to
// the run log, and while one of the worker's boxes is up the run state says
// that the worker waits for the user.
#pragma once
#include "platform/message_box.h"
#include "run/run_state.h"

namespace fwpack {

enum class BoxesOf { Dialog, Worker };

class RunBoxes : public MessageBoxes {
  public:
    RunBoxes(MessageBoxes &inner, RunState &run, BoxesOf owner)
        : inner_(inner), run_(run), owner_(owner) {}
    BoxButton Show(std::string_view text, std::string_view caption, BoxIcon icon,
                   BoxButtons buttons) override;

  private:
    MessageBoxes &inner_;
    RunState &run_;
    BoxesOf owner_;
};

}  // namespace fwpack
