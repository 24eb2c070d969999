#!/bin/bash
# Removes Ombrel Sentinel from this Mac. Run with administrator rights.
set -u
/bin/launchctl bootout system/com.ombrel.sentinel.agent 2>/dev/null || true
/bin/rm -f /Library/LaunchDaemons/com.ombrel.sentinel.agent.plist
/bin/rm -rf "/Library/Application Support/Ombrel/Sentinel"
/usr/sbin/pkgutil --forget com.ombrel.sentinel.agent >/dev/null 2>&1 || true
echo "Ombrel Sentinel was removed."
