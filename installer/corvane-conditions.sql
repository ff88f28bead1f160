-- The conditions of installer/corvane.wxs's components, which wixl cannot write from WiX source:
-- scripts/dist.sh runs each statement with msibuild -q on the package wixl has built.
-- The component's class is registered when an earlier install of this product (or of the older
-- version it upgrades) registered it, or, on the first install, when no server is registered
-- for the class; TLInfoLeftAlone records the opposite decision.
UPDATE `Component` SET `Condition` = 'TLINFO_DECIDED = "#1" OR (TLINFO_DECIDED <> "#0" AND NOT TLINFO_INPROC AND NOT TLINFO_LOCAL)' WHERE `Component` = 'TLInfoClass'
UPDATE `Component` SET `Condition` = 'NOT (TLINFO_DECIDED = "#1" OR (TLINFO_DECIDED <> "#0" AND NOT TLINFO_INPROC AND NOT TLINFO_LOCAL))' WHERE `Component` = 'TLInfoLeftAlone'
