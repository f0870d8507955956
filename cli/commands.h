#pragma once

struct Job;

enum ExitStatus { Success = 0, Failure = 1, UsageFailure = 2 };

// Reads the inputs, computes the result and writes it atomically; every failure reported.
ExitStatus runJob(const Job &job);
