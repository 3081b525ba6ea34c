#pragma once

// The launcher's process entry: a regular application with one delegate that lives as long as the process.
namespace StubMain {
int run();
}
