// Two threads write one plain variable with nothing ordering them: the thread check must report it.
#include <thread>

namespace {
int shared = 0;
}

int main() {
    std::thread other([] { ++shared; });
    ++shared;
    other.join();
    return shared == 2 ? 0 : 1;
}
