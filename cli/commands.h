#pragma once

struct Job;

enum class ExitStatus { Success = 0, Failure = 1, UsageError = 2 };

// Reads the inputs, computes the result and writes it atomically; every failure reported.
ExitStatus runJob(const Job &job);
