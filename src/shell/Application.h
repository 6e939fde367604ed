#pragma once

namespace morvane {

// Application-wide settings shared by the program and its desktop tests: names, style,
// font, Qt's own texts in the program's language, and a life that does not end when the
// last window hides. Called once the application exists.
void configureApplication();

} // namespace morvane
