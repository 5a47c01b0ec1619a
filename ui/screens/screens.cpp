#include "ui/screens/screens.h"

#include "ui/screens/pages.h"

namespace {

constexpr ScreenPage kPages[] = {
    {"Main Menu", BuildMainMenu, DrawMainMenu},
};

}  // namespace

const ScreenPage* FindScreenPage(std::string_view key) {
  for (const ScreenPage& page : kPages) {
    if (key == page.key) return &page;
  }
  return nullptr;
}
