// The program's command line and console text as UTF-8 on every host.
#pragma once
#include <string>
#include <vector>

namespace fwpack {

// The arguments as UTF-8, the program's name first. Linux passes argv as
// given; Windows reads the wide command line, so that any name survives.
std::vector<std::string> Utf8Arguments(int argc, char **argv);

// While it lives, text the program prints as UTF-8 shows as such on a
// Windows console; the console's code page comes back afterwards.
class Utf8Console {
  public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console &) = delete;
    Utf8Console &operator=(const Utf8Console &) = delete;

  private:
    unsigned saved_ = 0;
};

}  // namespace fwpack
