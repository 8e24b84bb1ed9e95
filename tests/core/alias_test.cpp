#include "board/sim/Sim.h"
#include "core/alias.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

namespace {
const char* const kPath = "/data/configs/alias.json";

const char* const kNames = R"({
  "namelist": {
    "win": [ { "id": 0, "valid": "on", "name": "W0" } ],
    "source": [
      { "id": 0, "valid": "on", "name": "Camera" },
      { "id": "1", "valid": "on", "name": "讲台" },
      { "id": 2, "valid": "off", "name": "Spare" },
      { "id": 3, "valid": "on", "name": "" },
      { "id": 0, "valid": "on", "name": "Second" },
      { "id": "x", "valid": "on", "name": "Bad id" },
      { "valid": "on", "name": "No id" },
      { "id": 5, "name": "No valid member" }
    ],
    "usermode": [ { "id": 15, "valid": "yes", "name": "Evening" } ]
  }
})";
} // namespace

TEST(AliasNames, NamesAreFoundByGroupAndId)
{
    kel_test::TestRoot root;
    root.writeFile(kPath, kNames);
    ALIAS_PARA a{-1, "", ""};
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.id, 0);
    EXPECT_EQ(a.name, "Camera");       // the first of two elements with id 0
    EXPECT_EQ(a.valid, "on");
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 1);   // numeric string id
    EXPECT_EQ(a.name, "讲台");
    EXPECT_EQ(get_json_alias_para(&a, "usermode", 15), 1);
    EXPECT_EQ(a.name, "Evening");
    EXPECT_EQ(get_json_alias_para(&a, "source", 5), 1);
    EXPECT_EQ(a.name, "No valid member");

    // Disabled or empty names fill the record but give 0.
    a = ALIAS_PARA{-1, "", ""};
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 0);
    EXPECT_EQ(a.name, "Spare");
    EXPECT_EQ(a.valid, "off");
    a = ALIAS_PARA{-1, "", "keep"};
    EXPECT_EQ(get_json_alias_para(&a, "source", 3), 0);
    EXPECT_EQ(a.id, 3);
    EXPECT_EQ(a.name, "");
}

TEST(AliasNames, UnknownGroupsAndIdsGiveZeroAndLeaveTheRecord)
{
    kel_test::TestRoot root;
    root.writeFile(kPath, kNames);
    ALIAS_PARA a{-1, "v", "n"};
    EXPECT_EQ(get_json_alias_para(&a, "sourc", 0), 0);
    EXPECT_EQ(get_json_alias_para(&a, "crop", 0), 0);
    EXPECT_EQ(get_json_alias_para(&a, "source", 9), 0);
    EXPECT_EQ(a.id, -1);
    EXPECT_EQ(a.name, "n");
    EXPECT_TRUE(root.exists(kPath));
}

TEST(AliasNames, NoFileOrATruncatedOneGivesZeroAndTheTruncatedIsDeletedAtTheFirstRead)
{
    kel_test::TestRoot root;
    ALIAS_PARA a{};
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    root.writeFile(kPath, std::string(kNames).substr(0, 120));
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(root.exists(kPath));
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);

    // Valid JSON nested 75,000 deep would overflow the reader's stack at every start: it is
    // handled like a parse error. Brackets inside strings do not count.
    root.writeFile(kPath, std::string(75000, '[') + std::string(75000, ']'));
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(root.exists(kPath));
    root.writeFile(kPath, std::string("{\"namelist\":{\"source\":[{\"id\":0,\"valid\":\"on\",\"name\":\"") +
                              std::string(100, '[') + "\"}]}}");
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
}

TEST(AliasNames, WellFormedFilesOfAnotherShapeGiveZeroAndAreKept)
{
    kel_test::TestRoot root;
    ALIAS_PARA a{};
    for (const char* text : {R"({"names": {}})", R"({"namelist": {"source": "text"}})",
                             R"({"namelist": {"source": [ 1, 2, 3 ]}})", R"([1, 2])",
                             R"({"namelist": {"source": [ {"id": 99999999999999, "name": "big"} ]}})"}) {
        root.writeFile(kPath, text);
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0) << text;
        EXPECT_TRUE(root.exists(kPath)) << text;
    }
}
