// kest-font-preview-renderer: the process entry.

#include <csignal>
#include <string>

#include "host/message_loop.h"
#include "platform/backend.h"

int main(int argc, char** argv) {
  // A closed pipe must be a failed write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::string argumentText;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) argumentText.push_back(' ');
    argumentText += argv[i];
  }
  const auto backend = kfp::createLinuxBackend();
  return kfp::runRenderer(argumentText, *backend);
}
