#pragma once
// The error convention of overridden window operations: a failure inside one is rethrown as a
// WindowError whose text names the class and the operation ("MessageBoxDialog::Init"). The
// framework catches it at its boundary and writes it to the log; it never crosses a Qt event handler.
//
//   QString MessageBoxDialog::GetSkinFile()
//   {
//       return GuardWindowOperation("MessageBoxDialog::GetSkinFile", [] { return QString("MessageBox.xml"); });
//   }

#include <stdexcept>
#include <utility>

class WindowError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs body; any exception leaving it becomes WindowError(place).
template <class Body>
decltype(auto) GuardWindowOperation(const char* place, Body&& body)
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        throw WindowError(place);
    }
}
