// tests/cpp/module_members_test.cpp: the exec step's checks and add_member's
// handling of __all__, on modules made for the test.
#include "module/module.h"

#include <gtest/gtest.h>

#include "generated/interface.h"
#include "python_fixture.h"

namespace talvora {
namespace {

using testing::PythonTest;
using testing::run_python;
using testing::take_exception_text;

using ModuleMembersTest = PythonTest;

TEST_F(ModuleMembersTest, ExecStepRefusesWhatIsNotAModule) {
    PyModuleDef_Slot& slot = module_definition(ModuleId::talvora).def.m_slots[0];
    ASSERT_EQ(slot.slot, Py_mod_exec);
    auto exec = reinterpret_cast<int (*)(PyObject*)>(slot.value);
    PyRef number = PyRef::steal(PyLong_FromLong(3));
    EXPECT_EQ(exec(number.get()), -1);
    EXPECT_EQ(take_exception_text(), "TypeError: 'int' object is not an instance of 'module'");
    EXPECT_EQ(exec(nullptr), -1);
    EXPECT_EQ(take_exception_text(), "SystemError: attempted to fetch exception but none was set");
}

// add_member("member", True) on a module prepared by `setup`, Python code
// with the module's class M and the module itself in scope; returns the
// error and repr(__all__).
std::string add_to(const char* setup) {
    PyRef module = run_python(
        (std::string("import types\nclass M(types.ModuleType): pass\nmodule = M('m')\n") + setup +
         "\nresult = module")
            .c_str());
    PyRef name = PyRef::steal(PyUnicode_FromString("member"));
    MaybeError error = add_member(module.get(), name.get(), Py_True);
    if (error) restore_error(std::move(*error));
    std::string outcome = take_exception_text() + " | ";
    PyRef all = PyRef::steal(PyObject_GetAttrString(module.get(), "__all__"));
    PyErr_Clear();
    PyRef shown = PyRef::steal(PyObject_Repr(all ? all.get() : Py_None));
    return outcome + PyUnicode_AsUTF8(shown.get());
}

TEST_F(ModuleMembersTest, AddMemberAndAll) {
    EXPECT_EQ(add_to(""), " | ['member']");
    EXPECT_EQ(add_to("module.__all__ = ['first']"), " | ['first', 'member']");
    EXPECT_EQ(add_to("module.__all__ = ('first',)"),
              "TypeError: 'tuple' object is not an instance of 'list' | ('first',)");
    EXPECT_EQ(add_to("module.__all__ = None"),
              "TypeError: 'None' is not an instance of 'list' | None");
    EXPECT_EQ(add_to("M.__all__ = property(lambda self: 1 / 0)"),
              "ZeroDivisionError: division by zero | None");
    // A failed setattr leaves the name in __all__.
    EXPECT_EQ(add_to("module.__all__ = []\n"
                     "def refuse(self, name, value): raise AttributeError('read-only')\n"
                     "M.__setattr__ = refuse"),
              "AttributeError: read-only | ['member']");
}

} // namespace
} // namespace talvora
