#!/usr/bin/env bash
# Nothing runs for the test CA; its files go with the state folder.
exit 0
