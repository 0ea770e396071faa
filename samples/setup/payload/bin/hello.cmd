@echo off
rem The demo program on Windows: says where it runs from and what it was asked.
echo Hello from %~dp0 (%*)
