// Loses a block that our own code made: the leak check must report it under the project's suppressions.
#include <cstdlib>
#include <cstring>

namespace {
char* volatile kept = nullptr;
}

int main() {
    kept = static_cast<char*>(std::malloc(64));
    std::memset(kept, 1, 64);
    kept = nullptr;
    return 0;
}
