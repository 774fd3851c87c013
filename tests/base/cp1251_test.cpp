#include "base/cp1251.h"

#include <gtest/gtest.h>

TEST(Cp1251, RoundTripOfEveryByteAndUnmappableCharacters) {
  QByteArray all;
  for (int b = 0; b < 256; ++b)
    if (b != 0x98) all.append(static_cast<char>(b));
  EXPECT_EQ(toCp1251(fromCp1251(all)), all);

  EXPECT_EQ(toCp1251(u"Сцена 1 ЁёЇ№"), QByteArray("\xD1\xF6\xE5\xED\xE0 1 \xA8\xB8\xAF\xB9"));
  EXPECT_EQ(toCp1251(u"\u00A0"), QByteArray("\xA0"));
  EXPECT_EQ(toCp1251(u"漢字€"), QByteArray("??\x88"));
  EXPECT_EQ(fromCp1251("\xC2"), QStringLiteral("В"));
}
