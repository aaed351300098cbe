// SPDX-License-Identifier: Apache-2.0
// verify --checkpoint FILE: the checkpoint record's format and rules are the
// library's (report/checkpoint_record.h, report/checkpoint_rules.h); this
// file reads FILE's text as the command refuses it, and renders an outcome.
// Where a record is kept, its lock and its replacement are
// checkpoint_store.h's.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "report/checkpoint_record.h"
#include "report/checkpoint_rules.h"

namespace qve::cli {

using qve::ChainPoint;
using qve::ChainSeen;
using qve::CheckpointOutcome;
using qve::CheckpointRecord;
using qve::CheckpointStatus;
using qve::CheckpointWatch;
using qve::IsRfc3339;
using qve::JudgeCheckpoint;
using qve::UtcNow;

// The record that `text`, the content of FILE, holds. Throws CommandError
// kDataError when it is damaged, of another version or for another chain.
CheckpointRecord ParseCheckpoint(std::string_view text, const std::string& file);

// What FILE holds for `record`.
std::string CheckpointFileText(const CheckpointRecord& record);

const char* CheckpointStatusName(CheckpointStatus status);

// "system.log line 12 (id 3)".
std::string PointText(const ChainPoint& point);

// The line the text output gives it.
std::string CheckpointText(const CheckpointOutcome& outcome);

// What happened to the chain since the record, when something did that a
// reader would not guess from the line: files renamed by a rotation, the
// oldest files gone. One notice each.
std::vector<std::string> CheckpointNotices(const CheckpointOutcome& outcome);

nlohmann::ordered_json ToJson(const CheckpointOutcome& outcome);

}  // namespace qve::cli
