# The SNMP fill: a printer's state from its agent's answers (fill.h), the
# polls that keep it fresh, and the alert mapping tables.
target_sources(kvnetcore PRIVATE
  snmp/poll.cpp
  snmp/fill.cpp
  snmp/fill_status.cpp
  snmp/fill_alerts.cpp
  snmp/fill_supplies.cpp
  snmp/fill_inventory.cpp
  snmp/fill_identity.cpp
  snmp/fill_panel.cpp
  snmp/alert_table.cpp)
