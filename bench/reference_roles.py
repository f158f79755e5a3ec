"""The role graph algorithm written in plain interpreted Python.

A yardstick for the benchmarks only, not part of the system: it follows the
same steps as `velmark.Velmark` (same method names, same graph, same answers)
on the same `velmark.Policy` / `velmark.Group` records, so the timings show
what the extension module saves over the obvious Python rendition.

`_dfs` recurses once per edge on the path it follows, so it is only fit for
shallow graphs (the benchmark uses it on trees, never on long chains).
"""
import velmark
from orvek_engine import AclItem


class ReferenceRoles:
    """Policies, groups and the role graph of one application."""

    def __init__(self, name, policies=None, groups=None):
        if policies is None:
            policies = [velmark.Policy(sub="root", obj="*", act="*")]
        if groups is None:
            groups = [velmark.Group(child="admin", parent="root")]
        self.name = name
        self.policies = policies
        self.groups = groups
        self.dag = {}
        self._dag_generate()

    def save(self):
        """Storage is not what the yardstick measures."""

    # -- graph building -------------------------------------------------

    def _dag_generate(self):
        for group in self.groups:
            self._dag_add_group(group)
        for policy in self.policies:
            self._dag_add_policy(policy)
        if "public" not in self.dag:
            self.dag["public"] = []

    def _dag_add_policy(self, policy):
        dag = self.dag
        pair = (policy.obj, policy.act)
        if policy.sub in dag:
            successors = dag[policy.sub]
            if pair not in successors:
                successors.append(pair)
        else:
            dag[policy.sub] = [pair]
        if pair not in dag:
            dag[pair] = []

    def _dag_add_group(self, group):
        dag = self.dag
        if group.child in dag:
            successors = dag[group.child]
            if group.parent not in successors:
                successors.append(group.parent)
        else:
            dag[group.child] = [group.parent]
        if group.parent not in dag:
            dag[group.parent] = []

    def _dag_set_policies(self, sub, policies):
        policy_list = [policy for policy in policies if policy.sub == sub]
        self.dag[sub] = [node for node in self.dag[sub] if isinstance(node, str)]
        for policy in policy_list:
            self._dag_add_policy(policy)

    def _dag_set_groups(self, child, groups):
        group_list = [group for group in groups if group.child == child]
        self.dag[child] = [node for node in self.dag[child] if isinstance(node, tuple)]
        for group in group_list:
            self._dag_add_group(group)

    # -- reachability ---------------------------------------------------

    def _dfs(self, start, discovered):
        discovered[start] = True
        for end in self.dag[start]:
            if not discovered[end]:
                self._dfs(end, discovered)
        return discovered

    def _check_new_group(self, new_group):
        if new_group.child not in self.dag:
            self.dag[new_group.child] = []
        discovered = {node: False for node in self.dag}
        self._dfs(new_group.parent, discovered)
        return not discovered[new_group.child]

    # -- queries --------------------------------------------------------

    def get_role_contents(self, role_name, _acl=None):
        policies = [policy for policy in self.policies if policy.sub == role_name]
        permissions = [{"obj": policy.obj, "act": policy.act} for policy in policies]
        roles = [group.parent for group in self.groups if group.child == role_name]
        return velmark.RoleContent.from_display(name=role_name, roles=roles,
                                                permissions=permissions)

    def get_implicit_permissions_for_roles(self, role_names, _acl=None):
        for name in role_names:
            if name not in self.dag:
                self.dag[name] = []
        private_disc = {node: False for node in self.dag}
        for name in role_names:
            self._dfs(name, private_disc)
        private_permission = [{"obj": node[0], "act": node[1]}
                              for node, reached in private_disc.items()
                              if reached and isinstance(node, tuple)]
        return velmark.RoleContent.from_display(name=",".join(role_names),
                                                permissions=private_permission)

    # -- permission updates ---------------------------------------------

    def add_role_permissions(self, role_name, permissions, _acl=None):
        permissions = [AclItem.from_display(**item) for item in permissions]
        self._add_permissions(role_name, permissions)
        self.save()
        return self.get_role_contents(role_name=role_name)

    def set_role_permissions(self, role_name, permissions, _acl=None):
        permissions = [AclItem.from_display(**item) for item in permissions]
        self._set_sub_permissions(role_name, permissions)
        self.save()
        return self.get_role_contents(role_name=role_name)

    def _add_permissions(self, sub, permissions):
        for permission in permissions:
            new_policy = velmark.Policy(sub=sub, obj=permission.obj, act=permission.act)
            if new_policy not in self.policies:
                self._dag_add_policy(new_policy)
                self.policies.append(new_policy)

    def _set_sub_permissions(self, sub, permissions):
        assert isinstance(self.policies, list)
        new_policies = [velmark.Policy(sub=sub, obj=permission.obj, act=permission.act)
                        for permission in permissions]
        self.policies = [policy for policy in self.policies if policy.sub != sub]
        if new_policies:
            self.policies.extend(new_policies)
            self._dag_set_policies(sub, new_policies)
        elif sub in self.dag:
            self._dag_set_policies(sub, new_policies)

    # -- sub-role updates -----------------------------------------------

    def add_role_sub_roles(self, role_name, sub_role_names, _acl=None):
        self._add_groups(role_name, sub_role_names)
        self.save()
        return self.get_role_contents(role_name=role_name)

    def set_role_sub_roles(self, role_name, sub_role_names, _acl=None):
        self._set_sub_groups(role_name, sub_role_names)
        self.save()
        return self.get_role_contents(role_name=role_name)

    def _add_groups(self, child, parents):
        for parent in parents:
            new_group = velmark.Group(child=child, parent=parent)
            if new_group in self.groups:
                continue
            if not self._check_new_group(new_group):
                continue
            self._dag_add_group(new_group)
            self.groups.append(new_group)

    def _set_sub_groups(self, child, parents):
        new_groups = [velmark.Group(child=child, parent=parent) for parent in parents]
        old_groups = [group for group in self.groups if group.child == child]
        self.groups = [group for group in self.groups if group.child != child]
        if not new_groups:
            if child in self.dag:
                self._dag_set_groups(child, new_groups)
            return
        for new_group in new_groups:
            if not self._check_new_group(new_group):
                self.groups.extend(old_groups)
                return
        self.groups.extend(new_groups)
        self._dag_set_groups(child, new_groups)
