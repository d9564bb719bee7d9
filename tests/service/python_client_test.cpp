// SPDX-License-Identifier: Apache-2.0
// The Python client package: each error code raises its own exception, its command line prints
// one clear line and exits 3 when the service does not answer, and pip installs it from its
// source without the network.
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

const std::string kPython = std::string("PYTHONPATH=") + FISCAL_PRINTD_CLIENT + " python3 -B ";

TEST(PythonClient, ErrorCodesRaiseTypedExceptions) {
  TempDir state;
  ServiceProcess s(state.Path());
  const std::string script = R"(
import fiscal_printd as f
c = f.Client(")" + s.Url() + R"(")
sale = {"kind": "T", "items": [{"description": "Cafe", "quantity": 1, "price": 10, "vat": 21}],
        "payments": [{"description": "Efectivo", "amount": 10}]}
c.sale(sale, key="py-typed")
def kind(f_):
    try:
        f_()
        return "none"
    except f.Error as e:
        return "%s:%s:%s" % (type(e).__name__, e.code, e.field)
print(kind(lambda: c.sale({"kind": "X"})))
print(kind(lambda: c.sale(dict(sale, table="7"), key="py-typed")))
print(kind(lambda: c.resolve("py-typed", True)))
print(kind(lambda: c.call("NoSuchEntryPoint")))
print(kind(lambda: f.Client("http://127.0.0.1:1").status()))
)";
  const ShellRun run = Shell(kPython + "-c '" + script + "'");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output,
            "BadField:bad_field:kind\n"
            "Conflict:idempotency_conflict:None\n"
            "Conflict:not_in_doubt:None\n"
            "Error:unknown_entry_point:None\n"
            "Unavailable:unavailable:None\n");
}

TEST(PythonClient, CommandLineSaysInOneLineThatTheServiceIsDown) {
  const ShellRun down = Shell(kPython + "-m fiscal_printd --url http://127.0.0.1:1 status");
  EXPECT_EQ(down.exitCode, 3);
  EXPECT_EQ(down.output.find("Traceback"), std::string::npos) << down.output;
  EXPECT_EQ(down.output.find('\n'), down.output.size() - 1) << down.output;
  EXPECT_NE(down.output.find("does not answer"), std::string::npos) << down.output;
  EXPECT_EQ(Shell(kPython + "-m fiscal_printd sale 'not json'").exitCode, 2);
}

// In a virtual environment of the system's Python, with no package index to reach: the build
// takes the setuptools the system has.
TEST(PythonClient, PipInstallsTheSourceOffline) {
  if (Shell("/usr/bin/python3 -c 'import ensurepip, setuptools, wheel'").exitCode != 0) {
    GTEST_SKIP() << "the system's Python lacks venv, setuptools or wheel (scripts/deps)";
  }
  TempDir dir;
  const std::string env = dir.Path() + "/env";
  const ShellRun run = Shell(
      "cp -r '" FISCAL_PRINTD_CLIENT "' '" + dir.Path() + "/client' && /usr/bin/python3 -m venv '" +
      env + "' && env -u PIP_FIND_LINKS PIP_NO_INDEX=1 PIP_CONFIG_FILE=/dev/null '" + env +
      "/bin/pip' install --disable-pip-version-check '" + dir.Path() + "/client' && '" + env +
      "/bin/python' -c 'import fiscal_printd; print(fiscal_printd.__version__)' && '" + env +
      "/bin/fiscal-printd-client' --help");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Successfully installed fiscal-printd"), std::string::npos);
  EXPECT_NE(run.output.find("usage: fiscal-printd-client"), std::string::npos) << run.output;
}

}  // namespace
