#pragma once

namespace test {

// Makes the installed helper the desktop's default application for HTML pages through the workspace, as the
// creator app's System page does, and waits for the answer (serving the main queue meanwhile). False when the
// workspace reports an error or does not answer in time.
bool makeInstalledHelperTheDefaultForPages();

} // namespace test
