// The reference: a minimal program linked against the runtime that starts it.
#include <cstdlib>

extern "C" void Py_Initialize();

int main()
{
    Py_Initialize();
    std::_Exit(0);
}
