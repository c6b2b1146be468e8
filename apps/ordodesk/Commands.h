#pragma once

#include <CLI/CLI.hpp>

// Each group of subcommands adds itself to the application; the function it
// registers runs when its subcommand is chosen and sets the exit code.
void AddServerCommands(CLI::App& app, int& exitCode);
void AddInspectCommand(CLI::App& app, int& exitCode);
void AddOrderCommand(CLI::App& app, int& exitCode);
void AddShellCommands(CLI::App& app, int& exitCode);
void AddRenderCommand(CLI::App& app, int& exitCode);
