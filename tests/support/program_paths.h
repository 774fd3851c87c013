#pragma once
// Paths of the built programs for tests that start them.

#include <QString>

inline QString programPath(const char* envName, const char* builtPath) {
  const QString fromEnv = qEnvironmentVariable(envName);
  return fromEnv.isEmpty() ? QString::fromLocal8Bit(builtPath) : fromEnv;
}

inline QString qz418Path() { return programPath("QZ418_BIN", QZ418_BIN_PATH); }
inline QString qz418CodesPath() { return programPath("QZ418_CODES_BIN", QZ418_CODES_BIN_PATH); }
inline QString qz418SimPath() { return programPath("QZ418_SIM_BIN", QZ418_SIM_BIN_PATH); }
