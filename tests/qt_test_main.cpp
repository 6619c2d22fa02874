// The main of every test program that needs a Qt application: the program's own application
// class (it shows escaping exceptions), the offscreen platform unless another is set, and the
// C locale as default, so that read-outs are the same on every machine unless a test asks for
// another locale. The user's data folder (the comparison records) is a temporary one. The
// application lives in main rather than in a static, so that it outlives every test and goes
// before the libraries' statics.
#include <gtest/gtest.h>

#include <QLocale>

#include "platform/application.h"
#include "tests/support/temp_folder.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The windows keep the user's comparison records; a test's go into a folder of its own.
  const testsupport::TTempFolder data("tessaly_test_data");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.Path().string()));
  ::testing::InitGoogleTest(&argc, argv);
  QLocale::setDefault(QLocale::c());
  platform::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
