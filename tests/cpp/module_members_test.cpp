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

using ExecFunction = int (*)(PyObject*);

ExecFunction exec_function(ModuleId id) {
    PyModuleDef_Slot* slot = module_definition(id).def.m_slots;
    EXPECT_EQ(slot->slot, Py_mod_exec);
    return reinterpret_cast<ExecFunction>(slot->value);
}

TEST_F(ModuleMembersTest, ExecStepRefusesWhatIsNotAModule) {
    PyRef number = PyRef::steal(PyLong_FromLong(3));
    EXPECT_EQ(exec_function(ModuleId::talvora)(number.get()), -1);
    EXPECT_EQ(take_exception_text(), "TypeError: 'int' object is not an instance of 'module'");
    EXPECT_EQ(exec_function(ModuleId::min_entropy_algo)(nullptr), -1);
    EXPECT_EQ(take_exception_text(), "SystemError: attempted to fetch exception but none was set");
}

TEST_F(ModuleMembersTest, ExecStepFillsAFreshModule) {
    PyRef module = PyRef::steal(PyModule_New("min_entropy_algo"));
    ASSERT_EQ(exec_function(ModuleId::min_entropy_algo)(module.get()), 0);
    PyRef all = PyRef::steal(PyObject_GetAttrString(module.get(), "__all__"));
    ASSERT_TRUE(all && PyList_Check(all.get()) && PyList_GET_SIZE(all.get()) == 1);
    EXPECT_STREQ(PyUnicode_AsUTF8(PyList_GET_ITEM(all.get(), 0)), "measure_entropy");
    EXPECT_TRUE(PyObject_HasAttrString(module.get(), "measure_entropy"));
}

// add_member on a module whose __all__ is set up by `setup` (Python code with
// `module` in scope); returns the exception text and the module's __all__.
std::pair<std::string, std::string> add_to(const char* setup) {
    std::string code = std::string("import types\nclass M(types.ModuleType):\n    pass\n"
                                   "module = M('m')\n") +
                       setup + "\nresult = module";
    PyRef module = run_python(code.c_str());
    PyRef name = PyRef::steal(PyUnicode_FromString("member"));
    MaybeError error = add_member(module.get(), name.get(), Py_True);
    std::string raised;
    if (error) {
        restore_error(std::move(*error));
        raised = take_exception_text();
    }
    PyRef all = PyRef::steal(PyObject_GetAttrString(module.get(), "__all__"));
    PyErr_Clear();
    PyRef shown = PyRef::steal(all ? PyObject_Repr(all.get()) : PyUnicode_FromString("<none>"));
    return {raised, PyUnicode_AsUTF8(shown.get())};
}

TEST_F(ModuleMembersTest, AddMemberAndAll) {
    EXPECT_EQ(add_to(""), std::make_pair(std::string(), std::string("['member']")));
    EXPECT_EQ(add_to("module.__all__ = ['first']"),
              std::make_pair(std::string(), std::string("['first', 'member']")));
    EXPECT_EQ(add_to("module.__all__ = ('first',)"),
              std::make_pair(std::string("TypeError: 'tuple' object is not an instance of 'list'"),
                             std::string("('first',)")));
    EXPECT_EQ(add_to("module.__all__ = None"),
              std::make_pair(std::string("TypeError: 'None' is not an instance of 'list'"),
                             std::string("None")));
    EXPECT_EQ(
        add_to("M.__all__ = property(lambda self: 1 / 0)"),
        std::make_pair(std::string("ZeroDivisionError: division by zero"), std::string("<none>")));
    // A failed setattr keeps the name in __all__.
    EXPECT_EQ(add_to("def refuse(self, name, value):\n    raise AttributeError('read-only')\n"
                     "module.__all__ = []\nM.__setattr__ = refuse"),
              std::make_pair(std::string("AttributeError: read-only"), std::string("['member']")));
}

} // namespace
} // namespace talvora
