// Built without FLTK: there are no real windows to offer.
#include <ui/backend.h>

std::unique_ptr<ui::Backend> ui::make_fltk_backend(const std::string&, std::istream*) { return nullptr; }
