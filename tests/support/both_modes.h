// Runs a test in both Redis modes and compares what each run observed. The test process (the
// parent) starts itself twice, one child with redis-cli through a pipe and one with the
// native connection (PLTFM_REDIS), lets each write a transcript of what it saw (return codes,
// records, Redis contents, EEPROM bytes, log lines) and fails on the first difference.
//
//   void SetUp() override { if (modes::run_both()) return; ...usual set-up... }
//   TEST_F(Fixture, Case) { if (modes::parent()) return; ...body, with modes::note()... }
#pragma once

#include <string>
#include <string_view>

#include "fake_platform.h"
#include "redis_server.h"

namespace pltfm::test::modes {

enum class Mode { cli, native };

// True in the test process itself, false in the children it starts.
bool parent();
// In the parent: runs the current test in both modes, reports a child's failures and any
// difference between the transcripts, and returns true. In a child: returns false at once.
bool run_both();
// The mode of this child (cli in the parent).
Mode mode();
const char *mode_name();

// Points the library at the server in this child's mode: cli puts the server's redis-cli
// wrapper first on PATH; native sets PLTFM_REDIS to its socket and puts a redis-cli first on
// PATH that only records that it was run (the parent fails the test if it was). Call before
// the library's first Redis access.
void use(RedisServer &redis);
// Switches the library's Redis mode in this process: native sets PLTFM_REDIS to the unix
// socket, cli unsets it (the library then runs the redis-cli first on PATH); either way the
// library reads the setting again.
void select(Mode mode, const std::string &socket);

// Adds a line (or several) to this child's transcript; nothing in the parent.
void note(const std::string &text);
// The library's log text without the lines that name the transport itself: those of the
// native connection and what redis-cli or grep print on standard error.
std::string comparable_log(const std::string &log);
void note_log(const std::string &label, const std::string &log);
// Every hash of databases 0, 4 and 6, and every EEPROM file of the tree (as a checksum).
void note_world(const RedisServer &redis, const FakePlatform &fake);
// A short stand-in for file contents in a transcript: FNV-1a of the bytes, in hex.
std::string digest(std::string_view bytes);

// The first line where two transcripts differ, with the lines before it; empty when they are
// the same. When `heading` is given, also names the last line up to there that starts with it
// (the step the difference belongs to).
std::string first_difference(const std::string &cli, const std::string &native,
                             std::string_view heading = {});

}  // namespace pltfm::test::modes
